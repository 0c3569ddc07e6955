#include "os/Tool.h"

#include "os/Fd.h"
#include "os/MemoryFile.h"
#include "os/Spawn.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>

namespace os {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t outputLimit = std::size_t{1} << 20;

int millisecondsLeft(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Collects the child once it exits, waiting until `end` at most.
bool exitedBy(pid_t child, Clock::time_point end, int& status) {
    const Fd process(openPidfd(child));
    for (;;) {
        if (::waitpid(child, &status, WNOHANG) == child)
            return true;
        if (millisecondsLeft(end) == 0)
            return false;
        // Without pidfds (Linux before 5.3) look again every few milliseconds.
        pollfd exited{process.get(), POLLIN, 0};
        ::poll(&exited, process ? 1 : 0, process ? millisecondsLeft(end) : 5);
    }
}

} // namespace

ToolResult runTool(const std::string& program, const std::vector<std::string>& arguments,
                   std::string_view input, std::chrono::milliseconds deadline) {
    const auto end = Clock::now() + deadline;
    // The input in a memory file: the tool reads it at its own pace, nothing to feed.
    const Fd in = input.empty() ? Fd() : memoryFile("tool-input", input);
    if (!input.empty() && !in)
        return {};
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return {};
    const Fd reader(ends[0]);
    Fd writer(ends[1]);
    const auto started = spawn(program, arguments, {in.get(), writer.get(), false, true});
    writer.reset();
    if (started.error != 0)
        return {};
    const pid_t child = started.pid;

    ToolResult result;
    char buffer[4096];
    for (;;) {
        pollfd ready{reader.get(), POLLIN, 0};
        const int waited = ::poll(&ready, 1, millisecondsLeft(end));
        if (waited < 0 && errno == EINTR)
            continue;
        if (waited <= 0)
            break;
        const ssize_t got = ::read(reader.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        if (result.out.size() < outputLimit)
            result.out.append(buffer, static_cast<std::size_t>(got));
    }
    int status = 0;
    if (!exitedBy(child, end, status)) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        return {};
    }
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

} // namespace os
