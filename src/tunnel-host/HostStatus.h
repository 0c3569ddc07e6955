#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>

// What the host reports about itself in its runtime folder: status.json, which the app reads
// (HostState::fromJson) from the folder it watches, and the pid file for a stop.
struct HostStatus {
    enum class Phase { Connecting, Connected, Disconnected };
    using Time = std::chrono::system_clock::time_point;

    Phase phase = Phase::Disconnected;
    pid_t pid = 0;
    std::string reason; // short, for people reading the file; the full story is in the log
    std::optional<Time> connectedDate;
    // The engine's last report of connections to the server that failed, while connected.
    std::optional<Time> troubleAt;

    // {"connectedDate","pid","reason","status","troubleAt"}, compact, the members the app's
    // HostState writes in its order; an absent date or an empty reason is left out.
    std::string json() const;
};

// "2026-12-07T23:42:06.123Z", as the app writes and reads dates.
std::string isoUtc(HostStatus::Time time);

// Replaced by rename, so the app never reads half a file: 0 or the errno of the failed step.
int writeStatus(const std::string& runtimeDir, const HostStatus& status);
int writePid(const std::string& runtimeDir, pid_t pid);
std::optional<pid_t> readPid(const std::string& runtimeDir);
