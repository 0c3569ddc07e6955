#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

namespace netd {

// The helper's state, one folder per network namespace (the rules belong to a namespace):
// <run dir>/<netnsKey()>/, root's alone (0700; every file in it 0600):
//   state            "up" | "blocked" | "starting" | "down", since when, the caller, the reason
//   verb.lock        one verb at a time
//   supervisor.lock  held by the supervisor for its whole life
//   supervisor.pid   its pid and start time; engine.pid; engine.log, what the engine prints
//   route_localnet   the namespace's value before the helper turned it on
// and beside it <netnsKey()>.status (0644), what the app reads: the state without the caller and
// the supervisor that vouches for it. No secret is in any of them: the engine reads its document
// from an anonymous memory file.
class State {
public:
    // Creates the folders when missing. Empty path when that fails.
    static std::string folder();

    enum class Tunnel { Down, Up, Blocked, Starting };
    static const char* name(Tunnel tunnel);

    struct Record {
        Tunnel tunnel = Tunnel::Down;
        std::string since; // ISO 8601 UTC, while up
        uid_t caller = 0;
        std::string reason; // one word, while blocked: engine-exited, rules-lost, ...
    };

    explicit State(std::string folder) : m_folder(std::move(folder)) {}

    std::string path(const char* file) const { return m_folder + "/" + file; }
    Record read() const;
    // Replaces the state file and the published status atomically; with `onlyFrom`, only when the
    // current state is that one (the supervisor and the verb never overwrite each other's later word).
    bool write(const Record& record, std::optional<Tunnel> onlyFrom = std::nullopt) const;

    bool supervisorRunning() const;
    // The process named in `file` while it runs; nothing once it is gone.
    std::optional<pid_t> readPid(const char* file) const;
    // The pid and, after it, the process's start time: together they name one process.
    void writePid(const char* file, pid_t pid) const;

private:
    std::string m_folder;
};

std::string nowIso();
// The start time of a process in clock ticks since boot (field 22 of /proc/<pid>/stat); 0 when gone.
unsigned long long startTime(pid_t pid);

} // namespace netd
