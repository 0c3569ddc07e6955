#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

namespace netd {

// The helper's state, one folder per network namespace (the rules belong to a namespace):
// <run dir>/net-<inode of the namespace>/, root-owned 0755.
//   state     "up" | "blocked" | "down" and when it came up; 0644, the app reads it directly
//   engine.json  the engine document, 0640 root:<engine group>
//   engine.log   what the engine prints, 0600
//   supervisor.lock  held by the supervisor for its whole life
//   supervisor.pid, engine.pid
class State {
public:
    // Creates the folder when missing. Empty path when that fails.
    static std::string folder();

    enum class Tunnel { Down, Up, Blocked, Starting };
    static const char* name(Tunnel tunnel);

    struct Record {
        Tunnel tunnel = Tunnel::Down;
        std::string since; // ISO 8601 UTC, while up
        uid_t caller = 0;
    };

    explicit State(std::string folder) : m_folder(std::move(folder)) {}

    std::string path(const char* file) const { return m_folder + "/" + file; }
    Record read() const;
    // Replaces the state file atomically; with `onlyFrom`, only when the current state is that one
    // (the supervisor and the verb never overwrite each other's later word).
    bool write(const Record& record, std::optional<Tunnel> onlyFrom = std::nullopt) const;

    bool supervisorRunning() const;
    std::optional<pid_t> readPid(const char* file) const;
    void writePid(const char* file, pid_t pid) const;

private:
    std::string m_folder;
};

std::string nowIso();

} // namespace netd
