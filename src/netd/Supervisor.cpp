#include "netd/Supervisor.h"

#include "netd/EngineCommand.h"
#include "netd/Rules.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace netd {

namespace {

using namespace std::chrono_literals;

constexpr auto stopLimit = 3s;
constexpr const char* setprivPath = "/usr/bin/setpriv";

// The engine: setpriv drops to the engine user with empty capability sets (bounding set too)
// and no_new_privs.
[[noreturn]] void execEngine(const EngineUser& user, const engine::EngineInfo& engine,
                             const std::string& config, int logFd) {
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ::dup2(devNull, STDIN_FILENO);
    ::dup2(logFd, STDOUT_FILENO);
    ::dup2(logFd, STDERR_FILENO);
    const std::string uid = "--reuid=" + std::to_string(user.uid);
    const std::string gid = "--regid=" + std::to_string(user.gid);
    std::vector<std::string> arguments{setprivPath,
                                       uid,
                                       gid,
                                       "--clear-groups",
                                       "--no-new-privs",
                                       "--inh-caps=-all",
                                       "--ambient-caps=-all",
                                       "--bounding-set=-all",
                                       "--"};
    for (const std::string& part : engineCommand(engine, config))
        arguments.push_back(part);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::string path = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
    std::string assets = std::string(engine.assetVariable()) + "=" + engine.assetDir;
    std::vector<char*> environment{path.data()};
    if (!engine.assetDir.empty())
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

// The supervisor's life: start the engine, wait for it or for a stop.
[[noreturn]] void supervise(const State& state, const EngineUser& user, const engine::EngineInfo& engineInfo,
                            const std::string& config) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGCHLD);
    sigprocmask(SIG_BLOCK, &signals, nullptr);

    const int logFd =
        ::open(state.path("engine.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    const pid_t engine = ::fork();
    if (engine == 0) {
        sigprocmask(SIG_UNBLOCK, &signals, nullptr);
        execEngine(user, engineInfo, config, logFd);
    }
    if (logFd >= 0)
        ::close(logFd);
    if (engine < 0)
        ::_exit(1);
    state.writePid("engine.pid", engine);

    for (;;) {
        siginfo_t info{};
        if (sigwaitinfo(&signals, &info) < 0)
            continue;
        if (info.si_signo == SIGCHLD) {
            int status = 0;
            if (::waitpid(engine, &status, WNOHANG) != engine)
                continue;
            // Gone while it should carry the tunnel: fail closed.
            Rules::block();
            State::Record record = state.read();
            record.tunnel = State::Tunnel::Blocked;
            state.write(record);
            ::_exit(0);
        }
        // A stop: the verb that sent it writes the state.
        ::kill(engine, SIGTERM);
        const auto limit = std::chrono::steady_clock::now() + stopLimit;
        int status = 0;
        while (::waitpid(engine, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(20ms);
        if (::waitpid(engine, &status, WNOHANG) == 0) {
            ::kill(engine, SIGKILL);
            ::waitpid(engine, &status, 0);
        }
        ::_exit(0);
    }
}

} // namespace

bool Supervisor::start(const State& state, const EngineUser& user, const engine::EngineInfo& engine,
                       const std::string& config) {
    // Taken here and inherited: the supervisor holds it from its first instruction.
    const int lock =
        ::open(state.path("supervisor.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    // Bounded: the app may hold a shared lock for an instant to see whether a supervisor runs.
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
    ::fchmod(lock, 0644);
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
        // Detached from pkexec and the caller: only the lock, /dev/null and nothing else.
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        for (int fd = 3; fd < 1024; ++fd)
            if (fd != lock)
                ::close(fd);
        ::prctl(PR_SET_NAME, "vemko-netd-sv");
        state.writePid("supervisor.pid", ::getpid());
        supervise(state, user, engine, config);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(lock);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Supervisor::stop(const State& state, const EngineUser& user) {
    const auto engine = state.readPid("engine.pid");
    if (state.supervisorRunning()) {
        if (const auto supervisor = state.readPid("supervisor.pid"))
            ::kill(*supervisor, SIGTERM);
        const auto limit = std::chrono::steady_clock::now() + stopLimit + 1s;
        while (state.supervisorRunning() && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(20ms);
    }
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
