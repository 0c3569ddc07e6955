#include "EngineProcess.h"

#include "os/ExecWords.h"
#include "os/MemoryFile.h"
#include "os/Spawn.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr auto killWait = std::chrono::milliseconds(3000);

// This process's environment with `extra` set over it.
std::vector<std::string> environmentWith(const std::vector<std::string>& extra) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view line = *entry;
        const bool replaced = std::any_of(extra.begin(), extra.end(), [line](const std::string& set) {
            return line.starts_with(set.substr(0, set.find('=') + 1));
        });
        if (!replaced)
            result.emplace_back(line);
    }
    result.insert(result.end(), extra.begin(), extra.end());
    return result;
}

// The child between fork and exec: async-signal-safe calls only.
[[noreturn]] void becomeEngine(pid_t host, int input, int output, int report, char* const argv[],
                               char* const envp[]) {
    // The engine must never outlive the host, not even a SIGKILLed one; a host already gone
    // before the request took hold gets no engine.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != host)
        ::_exit(1);
    // What the host blocks and ignores is its own business, not the engine's.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGXFSZ, SIG_DFL);
    ::signal(SIGPIPE, SIG_DFL);
    ::dup2(input, STDIN_FILENO);
    ::dup2(output, STDOUT_FILENO);
    ::dup2(output, STDERR_FILENO);
    // Nothing else reaches the engine, whatever the host itself was handed without close-on-exec.
    ::close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC);
    ::execve(argv[0], argv, envp);
    const int error = errno;
    [[maybe_unused]] const auto written = ::write(report, &error, sizeof error);
    ::_exit(127);
}

} // namespace

EngineProcess::~EngineProcess() {
    if (running()) {
        kill();
        waitFor(killWait);
    }
}

std::string EngineProcess::start(const Launch& launch) {
    std::vector<std::string> words{launch.program};
    words.insert(words.end(), launch.arguments.begin(), launch.arguments.end());
    std::vector<std::string> environment = environmentWith(launch.environment);
    const std::vector<char*> argv = os::execPointers(words);
    const std::vector<char*> envp = os::execPointers(environment);

    const os::Fd document = os::memoryFile("engine-document", launch.document);
    int outputEnds[2];
    int reportEnds[2];
    if (!document || ::pipe2(outputEnds, O_CLOEXEC) != 0)
        return std::strerror(errno);
    os::Fd output(outputEnds[0]);
    os::Fd engineOutput(outputEnds[1]);
    if (::pipe2(reportEnds, O_CLOEXEC) != 0)
        return std::strerror(errno);
    const os::Fd report(reportEnds[0]);
    os::Fd engineReport(reportEnds[1]);

    const pid_t host = ::getpid();
    const pid_t child = ::fork();
    if (child < 0)
        return std::strerror(errno);
    if (child == 0)
        becomeEngine(host, document.get(), engineOutput.get(), engineReport.get(), argv.data(), envp.data());
    engineReport.reset();
    engineOutput.reset();
    // End of file: the exec happened. An errno: it did not.
    int error = 0;
    ssize_t got = 0;
    do
        got = ::read(report.get(), &error, sizeof error);
    while (got < 0 && errno == EINTR);
    if (got == static_cast<ssize_t>(sizeof error)) {
        ::waitpid(child, nullptr, 0);
        return std::strerror(error);
    }
    m_pid = child;
    m_exit.reset(os::openPidfd(child));
    ::fcntl(output.get(), F_SETFL, O_NONBLOCK);
    m_output = std::move(output);
    if (!m_exit) {
        const std::string why = std::strerror(errno);
        kill();
        waitFor(killWait);
        return "cannot watch the engine: " + why;
    }
    return {};
}

void EngineProcess::terminate() const {
    if (running())
        ::kill(m_pid, SIGTERM);
}

void EngineProcess::kill() const {
    if (running())
        ::kill(m_pid, SIGKILL);
}

std::optional<int> EngineProcess::collect() {
    int status = 0;
    if (!running() || ::waitpid(m_pid, &status, WNOHANG) != m_pid)
        return std::nullopt;
    m_pid = 0;
    m_exit.reset();
    return status;
}

std::optional<int> EngineProcess::waitFor(std::chrono::milliseconds limit) {
    if (m_exit) {
        pollfd exited{m_exit.get(), POLLIN, 0};
        while (::poll(&exited, 1, static_cast<int>(limit.count())) < 0 && errno == EINTR) {
        }
    }
    return collect();
}
