// vemko-netd: the root helper of the system-wide tunnel, started only through pkexec.
//
//   vemko-netd up        the engine document on stdin (bounded, checked); rules up, engine started
//   vemko-netd down      engine stopped, every rule removed, no table left
//   vemko-netd status    prints up | blocked | starting | down
//
// Fixed verbs, nothing else: no path, rule or option comes from the caller. It acts on the
// network namespace it runs in. The input is read and checked before any lock is taken: a caller
// that never closes it holds nothing. Ctrl-C, SIGTERM or SIGHUP during `up` make it undo itself
// (rules and state always agree); `down` asks a running `up` to do that instead of waiting for it.
#include "engine/Discovery.h"
#include "netd/Document.h"
#include "netd/FileLock.h"
#include "netd/Input.h"
#include "netd/LocalNet.h"
#include "netd/LocalNetworks.h"
#include "netd/Rules.h"
#include "netd/State.h"
#include "netd/Supervisor.h"
#include "os/MemoryFile.h"
#include "os/StopSignalSet.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#ifndef VEMKO_NETD_ENGINE
#define VEMKO_NETD_ENGINE "/usr/bin/v2ray"
#endif

#ifndef VEMKO_NETD_ENGINE_USER
#define VEMKO_NETD_ENGINE_USER "vemko-engine"
#endif

namespace {

using namespace std::chrono_literals;
using netd::State;

enum Exit {
    ok = 0,
    notRoot = 1,
    usage = 2,
    refused = 3,
    setupFailed = 4,
    engineFailed = 5,
    portTaken = 6,
    interrupted = 7
};

constexpr auto readyLimit = 10s;
constexpr auto inputLimit = 5s;
constexpr auto upLockLimit = 15s;
constexpr auto downLockLimit = 10s;

int fail(int code, const std::string& message) {
    std::cerr << "vemko-netd: " << message << "\n";
    return code;
}

std::optional<netd::EngineUser> engineUser() {
    const passwd* entry = ::getpwnam(VEMKO_NETD_ENGINE_USER);
    if (!entry || entry->pw_uid == 0)
        return std::nullopt;
    return netd::EngineUser{entry->pw_uid, entry->pw_gid, entry->pw_name};
}

// Ctrl-C, SIGTERM and SIGHUP wait while a verb changes the machine; `up` looks for them between
// its steps and undoes itself.
bool stopAsked(std::chrono::milliseconds wait = 0ms) {
    const sigset_t signals = os::stopSignalSet();
    const timespec timeout{0, static_cast<long>(std::chrono::nanoseconds(wait).count())};
    return ::sigtimedwait(&signals, nullptr, &timeout) > 0;
}

std::string lastLine(const std::string& path) {
    std::ifstream file(path);
    std::string line, last;
    while (std::getline(file, line))
        if (!line.empty())
            last = line; // the last line says why the engine stopped
    return last;
}

// What the state file says, corrected by what runs: rules without a supervisor are blocked, and so
// is a start nobody finishes.
State::Tunnel currentTunnel(const State& state) {
    const State::Tunnel recorded = state.read().tunnel;
    if (!netd::rules::present())
        return State::Tunnel::Down;
    if (recorded == State::Tunnel::Up && !state.supervisorRunning())
        return State::Tunnel::Blocked;
    if (recorded == State::Tunnel::Starting && !netd::FileLock::holder(state.path("verb.lock")))
        return State::Tunnel::Blocked;
    return recorded == State::Tunnel::Down ? State::Tunnel::Blocked : recorded;
}

// Only a root-owned engine in root-owned folders, from this fixed list: an Xray the package
// ships, one Xray's own installer put in place, the system's, then the configured v2ray.
engine::Discovered rootEngine() {
    return engine::discoverForRoot(
        {"/usr/lib/vemko-vpn/xray", "/usr/local/bin/xray", "/usr/bin/xray", VEMKO_NETD_ENGINE});
}

void takeDown(const State& state, const std::optional<netd::EngineUser>& user) {
    if (user)
        netd::Supervisor::stop(state, *user);
    netd::rules::down();
    netd::routeLocalnetRestore(state);
}

class Up {
public:
    Up(const State& state, uid_t caller, netd::EngineUser user)
        : m_state(state), m_caller(caller), m_user(std::move(user)) {}

    int run(const std::string& input, const engine::EngineInfo& engine) {
        // The old engine goes, the rules stay: a fail-over to the next server never opens a gap.
        netd::Supervisor::stop(m_state, m_user);
        const auto table = os::socketTable();
        if (!table)
            return blocked(setupFailed, "not-ready", "the kernel does not tell its sockets");
        for (const os::Socket& socket : *table)
            if (socket.port == netd::socksPort && socket.listening && socket.protocol == IPPROTO_TCP)
                return blocked(portTaken, "port-taken", taken(netd::socksPort));
        const auto ports = netd::choosePorts(*table);
        if (!ports)
            return blocked(setupFailed, "not-ready", "no free ports for the engine");
        const auto document = netd::engineDocument(input, engine, *ports);
        os::Fd memory = os::memoryFile("engine-document", std::get<std::string>(document));
        if (!memory)
            return blocked(setupFailed, "not-ready", "cannot hold the engine document");
        const netd::TableSpec spec{m_user.uid, netd::localNetworks(), netd::uplinks(), ports->redirect,
                                   ports->dns};
        if (!netd::routeLocalnetOn(m_state))
            return blocked(setupFailed, "not-ready", "cannot turn route_localnet on");
        if (const std::string error = netd::rules::up(spec); !error.empty())
            return blocked(setupFailed, "not-ready", "rules refused: " + error);
        m_state.write({State::Tunnel::Starting, {}, m_caller, {}});
        if (stopAsked())
            return undo();
        if (!netd::Supervisor::start(m_state, {m_user, engine, memory.get(), spec}))
            return blocked(engineFailed, "engine-exited", "cannot start the engine");
        memory.reset();
        const auto limit = std::chrono::steady_clock::now() + readyLimit;
        while (std::chrono::steady_clock::now() < limit) {
            if (stopAsked(30ms))
                return undo();
            if (m_state.read().tunnel == State::Tunnel::Blocked)
                return blocked(engineFailed, "engine-exited",
                               "the engine stopped: " + lastLine(m_state.path("engine.log")));
            const auto engine = m_state.readPid("engine.pid");
            const auto now = os::socketTable();
            if (!engine || !now)
                continue;
            // Up only once the engine itself, and nobody else, listens on its entries.
            const netd::Readiness ready = netd::readiness(*now, os::socketInodes(*engine), *ports);
            if (ready.kind == netd::Readiness::Kind::Taken)
                return blocked(portTaken, "port-taken", taken(ready.port));
            if (ready.kind == netd::Readiness::Kind::Ready &&
                m_state.write({State::Tunnel::Up, netd::nowIso(), m_caller, {}}, State::Tunnel::Starting)) {
                std::cout << "up\n";
                return ok;
            }
        }
        return blocked(engineFailed, "not-ready", "the engine did not start in time");
    }

private:
    static std::string taken(int port) {
        return "port taken: 127.0.0.1:" + std::to_string(port) + " is held by another program";
    }

    // Where rules stand (a tunnel was up before), they stay, refusing everything: nothing leaks.
    // Where none stood, nothing is left behind.
    int blocked(int code, const char* reason, const std::string& message) {
        netd::Supervisor::stop(m_state, m_user);
        if (netd::rules::present()) {
            netd::rules::block();
            m_state.write({State::Tunnel::Blocked, {}, m_caller, reason});
        } else {
            netd::routeLocalnetRestore(m_state);
        }
        return fail(code, message);
    }

    int undo() {
        takeDown(m_state, m_user);
        m_state.write({State::Tunnel::Down, {}, m_caller, "interrupted"});
        return fail(interrupted, "interrupted: nothing changed");
    }

    const State& m_state;
    uid_t m_caller;
    netd::EngineUser m_user;
};

int up(const State& state, uid_t caller) {
    // Everything the caller sends is read and checked first, before anything is held or changed.
    const auto input = netd::readInput(STDIN_FILENO, netd::maxDocumentBytes, inputLimit);
    if (const auto* refusal = std::get_if<netd::InputRefusal>(&input))
        return fail(refused, "document refused: " + refusal->reason);
    const engine::Discovered found = rootEngine();
    if (!found.engine)
        return fail(setupFailed, "no engine: " + found.problem);
    const std::string& text = std::get<std::string>(input);
    const auto checked = netd::engineDocument(text, *found.engine);
    if (const auto* refusal = std::get_if<engine::Refusal>(&checked))
        return fail(refused, "document refused: " + refusal->reason);
    const auto user = engineUser();
    if (!user)
        return fail(setupFailed, "system user " VEMKO_NETD_ENGINE_USER " is missing");

    const sigset_t signals = os::stopSignalSet();
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    const auto lock = netd::FileLock::take(state.path("verb.lock"), upLockLimit);
    if (!lock)
        return fail(setupFailed, "busy: another vemko-netd did not finish in time");
    if (stopAsked())
        return fail(interrupted, "interrupted: nothing changed");
    return Up(state, caller, *user).run(text, *found.engine);
}

// A running `up` is asked to undo itself: `down` never waits for a start to finish.
void interruptUp(const State& state) {
    const auto holder = netd::FileLock::holder(state.path("verb.lock"));
    if (!holder)
        return;
    const std::string proc = "/proc/" + std::to_string(*holder);
    struct stat self {
    }, other{};
    std::ifstream command(proc + "/cmdline");
    std::string program, verb;
    std::getline(command, program, '\0');
    std::getline(command, verb, '\0');
    if (::stat("/proc/self/exe", &self) == 0 && ::stat((proc + "/exe").c_str(), &other) == 0 &&
        self.st_dev == other.st_dev && self.st_ino == other.st_ino && verb == "up")
        ::kill(*holder, SIGTERM);
}

int down(const State& state, uid_t caller) {
    const sigset_t signals = os::stopSignalSet();
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    interruptUp(state);
    const auto lock = netd::FileLock::take(state.path("verb.lock"), downLockLimit);
    if (!lock)
        return fail(setupFailed, "busy: another vemko-netd did not finish in time");
    takeDown(state, engineUser());
    if (netd::rules::present())
        return fail(setupFailed, "rules not removed");
    state.write({State::Tunnel::Down, {}, caller, {}});
    std::cout << "down\n";
    return ok;
}

// pkexec names the desktop user that asked; run by root directly there is none.
uid_t callerUid() {
    const char* pkexecUid = std::getenv("PKEXEC_UID");
    if (!pkexecUid)
        return 0;
    char* end = nullptr;
    const unsigned long uid = std::strtoul(pkexecUid, &end, 10);
    return end && *end == '\0' ? static_cast<uid_t>(uid) : 0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2)
        return fail(usage, "usage: vemko-netd up|down|status");
    const std::string verb = argv[1];
    if (verb != "up" && verb != "down" && verb != "status")
        return fail(usage, "usage: vemko-netd up|down|status");
    if (::geteuid() != 0)
        return fail(notRoot, "must run as root (through pkexec)");
    ::umask(077);
    // A caller that went away must not end a verb half way.
    std::signal(SIGPIPE, SIG_IGN);
    const std::string folder = State::folder();
    if (folder.empty())
        return fail(setupFailed, "cannot use the state folder");
    const State state(folder);
    if (verb == "status") {
        std::cout << State::name(currentTunnel(state)) << "\n";
        return ok;
    }
    const uid_t caller = callerUid();
    return verb == "up" ? up(state, caller) : down(state, caller);
}
