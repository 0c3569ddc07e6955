#pragma once

#include "os/Fd.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// The engine as a child of the host, tied to it: it gets SIGTERM the moment the host is gone
// (PR_SET_PDEATHSIG), a SIGKILLed host included, so no orphan engine ever holds the SOCKS port.
// Its document is its standard input, an anonymous memory file (never an argument, never a file in
// a folder); standard output and error come back through one pipe.
class EngineProcess {
public:
    struct Launch {
        std::string program;
        std::vector<std::string> arguments;
        std::vector<std::string> environment; // "NAME=value": set beside this process's own
        std::string_view document;
    };

    EngineProcess() = default;
    EngineProcess(const EngineProcess&) = delete;
    EngineProcess& operator=(const EngineProcess&) = delete;
    // A running engine is killed with its owner.
    ~EngineProcess();

    // Empty once it runs; else why it cannot ("No such file or directory").
    std::string start(const Launch& launch);

    bool running() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    // Its output, non-blocking; -1 once it has been read to the end.
    int output() const { return m_output.get(); }
    void closeOutput() { m_output.reset(); }
    // Readable once it has exited (a pidfd).
    int exitNotice() const { return m_exit.get(); }

    void terminate() const;
    void kill() const;
    // Its wait status once it has exited (and then it no longer runs); nothing while it runs.
    std::optional<int> collect();
    // The same, waiting up to `limit` for the exit.
    std::optional<int> waitFor(std::chrono::milliseconds limit);

private:
    pid_t m_pid = 0;
    os::Fd m_output;
    os::Fd m_exit;
};
