// vemko-netd: the root helper of the system-wide tunnel, started only through pkexec.
//
//   vemko-netd up        the engine document on stdin (bounded, checked); rules up, engine started
//   vemko-netd down      engine stopped, every rule removed, no table left
//   vemko-netd status    prints up | blocked | down
//
// Fixed verbs, nothing else: no path, rule or option comes from the caller. It acts on the
// network namespace it runs in.
#include "engine/Discovery.h"
#include "netd/Document.h"
#include "netd/LocalNetworks.h"
#include "netd/Rules.h"
#include "netd/State.h"
#include "netd/Supervisor.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <iostream>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#ifndef VEMKO_NETD_ENGINE
#define VEMKO_NETD_ENGINE "/usr/bin/v2ray"
#endif

#ifndef VEMKO_NETD_ENGINE_USER
#define VEMKO_NETD_ENGINE_USER "vemko-engine"
#endif

namespace {

using namespace std::chrono_literals;
using netd::State;

enum Exit { ok = 0, notRoot = 1, usage = 2, refused = 3, setupFailed = 4, engineFailed = 5 };

constexpr auto readyLimit = 10s;
constexpr int socksPort = 10808;

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

// Bounded read: one byte more than allowed tells an oversized document apart.
std::optional<std::string> readDocument() {
    std::string document;
    char buffer[16384];
    while (document.size() <= netd::maxDocumentBytes) {
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        document.append(buffer, static_cast<std::size_t>(got));
    }
    if (document.size() > netd::maxDocumentBytes)
        return std::nullopt;
    return document;
}

bool writeEngineConfig(const State& state, const std::string& document, gid_t engineGroup) {
    const std::string path = state.path("engine.json");
    const std::string temporary = path + ".new";
    ::unlink(temporary.c_str());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    // Only root and the engine read it: it holds the server's credentials.
    bool written = ::fchown(fd, 0, engineGroup) == 0 && ::fchmod(fd, 0640) == 0;
    written =
        written && ::write(fd, document.data(), document.size()) == static_cast<ssize_t>(document.size());
    ::close(fd);
    return written && ::rename(temporary.c_str(), path.c_str()) == 0;
}

bool listening(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool accepted = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return accepted;
}

std::string lastLines(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "r");
    if (!file)
        return {};
    std::string text;
    char line[512];
    while (std::fgets(line, sizeof line, file))
        text = line; // the last line says why the engine stopped
    std::fclose(file);
    return text;
}

// What the state file says, corrected by what runs: rules without a supervisor are blocked.
State::Tunnel currentTunnel(const State& state) {
    const State::Tunnel recorded = state.read().tunnel;
    const bool rules = netd::Rules::present();
    if (!rules)
        return State::Tunnel::Down;
    if (recorded == State::Tunnel::Up && !state.supervisorRunning())
        return State::Tunnel::Blocked;
    return recorded == State::Tunnel::Down ? State::Tunnel::Blocked : recorded;
}

// Only a root-owned engine in root-owned folders, from this fixed list: an Xray the package
// ships, one Xray's own installer put in place, the system's, then the configured v2ray.
engine::Discovered rootEngine() {
    return engine::discoverForRoot(
        {"/usr/lib/vemko-vpn/xray", "/usr/local/bin/xray", "/usr/bin/xray", VEMKO_NETD_ENGINE});
}

int up(const State& state, uid_t caller) {
    const auto input = readDocument();
    if (!input)
        return fail(refused, "document refused: larger than the limit");
    const engine::Discovered found = rootEngine();
    if (!found.engine)
        return fail(setupFailed, "no engine: " + found.problem);
    const auto document = netd::engineDocument(*input, *found.engine);
    if (const auto* refusal = std::get_if<engine::Refusal>(&document))
        return fail(refused, "document refused: " + refusal->reason);
    const auto user = engineUser();
    if (!user)
        return fail(setupFailed, "system user " VEMKO_NETD_ENGINE_USER " is missing");

    // The old engine goes, the rules stay: a fail-over to the next server never opens a gap.
    netd::Supervisor::stop(state, *user);
    if (!writeEngineConfig(state, std::get<std::string>(document), user->gid))
        return fail(setupFailed, "cannot write the engine document");
    if (const std::string error = netd::Rules::up(user->uid, netd::localNetworks()); !error.empty())
        return fail(setupFailed, "rules refused: " + error);
    state.write({State::Tunnel::Starting, {}, caller});
    if (!netd::Supervisor::start(state, *user, *found.engine, state.path("engine.json"))) {
        netd::Rules::block();
        state.write({State::Tunnel::Blocked, {}, caller});
        return fail(engineFailed, "cannot start the engine");
    }
    const auto limit = std::chrono::steady_clock::now() + readyLimit;
    while (std::chrono::steady_clock::now() < limit) {
        if (state.read().tunnel == State::Tunnel::Blocked)
            return fail(engineFailed, "the engine stopped: " + lastLines(state.path("engine.log")));
        // Up only once the engine is known by its pid too, so a down right after can end it.
        if (listening(socksPort) && listening(netd::redirectPort) && state.readPid("engine.pid")) {
            if (state.write({State::Tunnel::Up, netd::nowIso(), caller}, State::Tunnel::Starting)) {
                std::cout << "up\n";
                return ok;
            }
        }
        std::this_thread::sleep_for(30ms);
    }
    netd::Supervisor::stop(state, *user);
    netd::Rules::block();
    state.write({State::Tunnel::Blocked, {}, caller});
    return fail(engineFailed, "the engine did not start in time");
}

int down(const State& state, uid_t caller) {
    if (const auto user = engineUser())
        netd::Supervisor::stop(state, *user);
    if (const std::string error = netd::Rules::down(); !error.empty())
        return fail(setupFailed, "rules not removed: " + error);
    ::unlink(state.path("engine.json").c_str());
    state.write({State::Tunnel::Down, {}, caller});
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
    ::umask(022);
    const std::string folder = State::folder();
    if (folder.empty())
        return fail(setupFailed, "cannot use the state folder");
    const State state(folder);
    if (verb == "status") {
        std::cout << State::name(currentTunnel(state)) << "\n";
        return ok;
    }
    // One verb at a time per namespace.
    const int lock = ::open(state.path("verb.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0)
        return fail(setupFailed, "cannot take the helper's lock");
    const uid_t caller = callerUid();
    return verb == "up" ? up(state, caller) : down(state, caller);
}
