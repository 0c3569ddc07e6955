#include "netd/Supervisor.h"

#include "netd/EngineCommand.h"
#include "netd/TableKeeper.h"
#include "os/ExecWords.h"
#include "os/StopSignalSet.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace netd {

namespace {

using namespace std::chrono_literals;

constexpr auto stopLimit = 3s;
constexpr int lookEveryMs = 1000;
constexpr const char* setprivPath = "/usr/bin/setpriv";

// The engine: setpriv drops to the engine user with empty capability sets (bounding set too)
// and no_new_privs. Its document arrives on its standard input.
[[noreturn]] void execEngine(const Launch& launch, int logFd) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    std::signal(SIGPIPE, SIG_DFL);
    ::lseek(launch.document, 0, SEEK_SET);
    ::dup2(launch.document, STDIN_FILENO);
    ::dup2(logFd, STDOUT_FILENO);
    ::dup2(logFd, STDERR_FILENO);
    const std::string uid = "--reuid=" + std::to_string(launch.user.uid);
    const std::string gid = "--regid=" + std::to_string(launch.user.gid);
    std::vector<std::string> arguments{setprivPath,
                                       uid,
                                       gid,
                                       "--clear-groups",
                                       "--no-new-privs",
                                       "--inh-caps=-all",
                                       "--ambient-caps=-all",
                                       "--bounding-set=-all",
                                       "--"};
    for (const std::string& part : engineCommand(launch.engine, "stdin:"))
        arguments.push_back(part);
    const std::vector<char*> argv = os::execPointers(arguments);
    std::string path = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
    std::string assets = std::string(launch.engine.assetVariable()) + "=" + launch.engine.assetDir;
    std::vector<char*> environment{path.data()};
    if (!launch.engine.assetDir.empty())
        environment.push_back(assets.data());
    environment.push_back(nullptr);
    ::execve(setprivPath, argv.data(), environment.data());
    ::_exit(127);
}

bool engineUserOwns(pid_t pid, uid_t uid) {
    struct stat info {};
    const std::string proc = "/proc/" + std::to_string(pid);
    return ::stat(proc.c_str(), &info) == 0 && info.st_uid == uid;
}

bool waitGone(pid_t pid, uid_t uid) {
    const auto limit = std::chrono::steady_clock::now() + stopLimit;
    while (std::chrono::steady_clock::now() < limit) {
        if (!engineUserOwns(pid, uid))
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

void note(int logFd, const std::string& line) {
    const std::string text = "vemko-netd: " + line + "\n";
    if (logFd >= 0 && ::write(logFd, text.data(), text.size()) < 0)
        return;
}

void record(const State& state, State::Tunnel tunnel, const std::string& reason) {
    State::Record current = state.read();
    current.tunnel = tunnel;
    current.reason = reason;
    state.write(current);
}

void endEngine(pid_t engine) {
    ::kill(engine, SIGTERM);
    const auto limit = std::chrono::steady_clock::now() + stopLimit;
    int status = 0;
    while (::waitpid(engine, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(20ms);
    if (::waitpid(engine, &status, WNOHANG) == 0) {
        ::kill(engine, SIGKILL);
        ::waitpid(engine, &status, 0);
    }
}

// The supervisor's life: guard, start the engine, then watch the engine and the rules until a stop.
[[noreturn]] void supervise(const State& state, const Launch& launch) {
    sigset_t signals = os::stopSignalSet();
    sigaddset(&signals, SIGCHLD);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    const int signalFd = ::signalfd(-1, &signals, SFD_CLOEXEC);

    const int logFd =
        ::open(state.path("engine.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    TableKeeper keeper(launch.table);
    if (!keeper.guard())
        note(logFd, "no guard table (owned tables need Linux 5.12): a firewall reload may let traffic out "
                    "until the table is back");
    const pid_t engine = ::fork();
    if (engine == 0)
        execEngine(launch, logFd);
    ::close(launch.document);
    if (engine < 0)
        ::_exit(1);
    state.writePid("engine.pid", engine);

    bool engineRunning = true;
    bool lost = false;
    for (;;) {
        pollfd waits[2] = {{signalFd, POLLIN, 0}, {keeper.changes(), POLLIN, 0}};
        ::poll(waits, 2, lookEveryMs);
        if (waits[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (::read(signalFd, &info, sizeof info) != sizeof info)
                continue;
            if (info.ssi_signo != SIGCHLD) {
                // A stop: the verb that sent it writes the state; the guard goes with this process.
                if (engineRunning)
                    endEngine(engine);
                ::_exit(0);
            }
            int status = 0;
            if (engineRunning && ::waitpid(engine, &status, WNOHANG) == engine) {
                // Gone while it should carry the tunnel: fail closed.
                engineRunning = false;
                keeper.block();
                note(logFd, "the engine stopped: blocked until the tunnel is switched off or on again");
                record(state, State::Tunnel::Blocked, "engine-exited");
            }
        }
        keeper.drainChanges();
        switch (keeper.check()) {
        case TableKeeper::Check::Unchanged:
            break;
        case TableKeeper::Check::Restored:
            note(logFd, "the rules were removed or changed by another program: put back");
            if (std::exchange(lost, false) && engineRunning)
                record(state, State::Tunnel::Up, {});
            break;
        case TableKeeper::Check::Lost:
            if (!std::exchange(lost, true)) {
                note(logFd, "the rules were removed and cannot be put back: blocked");
                record(state, State::Tunnel::Blocked, "rules-lost");
            }
            break;
        }
    }
}

} // namespace

bool Supervisor::start(const State& state, const Launch& launch) {
    // Taken here and inherited: the supervisor holds it from its first instruction. Root's alone:
    // nobody else can hold it to make a supervisor look alive or stop the next from starting.
    const int lock =
        ::open(state.path("supervisor.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    bool locked = false;
    for (int attempt = 0; lock >= 0 && !locked && attempt < 100; ++attempt) {
        locked = ::flock(lock, LOCK_EX | LOCK_NB) == 0;
        if (!locked)
            std::this_thread::sleep_for(20ms);
    }
    if (!locked) {
        if (lock >= 0)
            ::close(lock);
        return false;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(lock);
        return false;
    }
    if (child == 0) {
        ::setsid();
        const pid_t supervisor = ::fork();
        if (supervisor != 0)
            ::_exit(supervisor < 0 ? 1 : 0);
        // Detached from pkexec and the caller: only the lock, the document, /dev/null.
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        for (int fd = 3; fd < 1024; ++fd)
            if (fd != lock && fd != launch.document)
                ::close(fd);
        ::prctl(PR_SET_NAME, "vemko-netd-sv");
        state.writePid("supervisor.pid", ::getpid());
        supervise(state, launch);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(lock);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Supervisor::stop(const State& state, const EngineUser& user) {
    // A supervisor that has just started may not have written its pid yet: look again until it is gone.
    std::optional<pid_t> signalled;
    const auto limit = std::chrono::steady_clock::now() + stopLimit + 1s;
    while (state.supervisorRunning() && std::chrono::steady_clock::now() < limit) {
        if (const auto supervisor = state.readPid("supervisor.pid"); supervisor && supervisor != signalled) {
            ::kill(*supervisor, SIGTERM);
            signalled = supervisor;
        }
        std::this_thread::sleep_for(20ms);
    }
    const auto engine = state.readPid("engine.pid");
    // A supervisor killed outright leaves its engine: end that one too, known by pid and user.
    if (engine && engineUserOwns(*engine, user.uid)) {
        ::kill(*engine, SIGTERM);
        if (!waitGone(*engine, user.uid))
            ::kill(*engine, SIGKILL);
    }
    ::unlink(state.path("engine.pid").c_str());
    ::unlink(state.path("supervisor.pid").c_str());
}

} // namespace netd
