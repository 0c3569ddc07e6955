#include "netd/State.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef VEMKO_NETD_RUN_DIR
#define VEMKO_NETD_RUN_DIR "/run/vemko-netd"
#endif

namespace netd {

namespace {

bool ownedFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
        return false;
    struct stat info {};
    // Never follow a link or use a folder someone else made.
    if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != 0)
        return false;
    return ::chmod(path.c_str(), 0755) == 0;
}

// Serialises read-modify-write of the state file between the verb and the supervisor.
class StateLock {
public:
    explicit StateLock(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)) {
        if (m_fd >= 0)
            ::flock(m_fd, LOCK_EX);
    }
    ~StateLock() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

private:
    int m_fd;
};

} // namespace

std::string State::folder() {
    struct stat ns {};
    if (::stat("/proc/self/ns/net", &ns) != 0)
        return {};
    const std::string root = VEMKO_NETD_RUN_DIR;
    const std::string folder = root + "/net-" + std::to_string(ns.st_ino);
    if (!ownedFolder(root) || !ownedFolder(folder))
        return {};
    return folder;
}

const char* State::name(Tunnel tunnel) {
    switch (tunnel) {
    case Tunnel::Up:
        return "up";
    case Tunnel::Blocked:
        return "blocked";
    case Tunnel::Starting:
        return "starting";
    case Tunnel::Down:
        break;
    }
    return "down";
}

State::Record State::read() const {
    std::ifstream file(path("state"));
    std::string word, since;
    uid_t caller = 0;
    file >> word >> since >> caller;
    Record record;
    record.since = since == "-" ? std::string() : since;
    record.caller = caller;
    for (const Tunnel tunnel : {Tunnel::Up, Tunnel::Blocked, Tunnel::Starting})
        if (word == name(tunnel))
            record.tunnel = tunnel;
    return record;
}

bool State::write(const Record& record, std::optional<Tunnel> onlyFrom) const {
    const StateLock lock(path("state.lock"));
    if (onlyFrom && read().tunnel != *onlyFrom)
        return false;
    const std::string temporary = path("state.new");
    ::unlink(temporary.c_str());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return false;
    const std::string text = std::string(name(record.tunnel)) + " " +
                             (record.since.empty() ? "-" : record.since) + " " +
                             std::to_string(record.caller) + "\n";
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::fchmod(fd, 0644);
    ::close(fd);
    return written && ::rename(temporary.c_str(), path("state").c_str()) == 0;
}

bool State::supervisorRunning() const {
    const int fd = ::open(path("supervisor.lock").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

std::optional<pid_t> State::readPid(const char* file) const {
    std::ifstream in(path(file));
    long pid = 0;
    if (!(in >> pid) || pid <= 1)
        return std::nullopt;
    return static_cast<pid_t>(pid);
}

void State::writePid(const char* file, pid_t pid) const {
    // Whole or not at all: a reader never sees the file empty between truncation and write.
    const std::string target = path(file);
    const std::string temporary = target + ".new";
    ::unlink(temporary.c_str());
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << pid << "\n";
        if (!out.flush())
            return;
    }
    std::rename(temporary.c_str(), target.c_str());
}

std::string nowIso() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    char full[40] = {};
    std::snprintf(full, sizeof full, "%s.%03dZ", text, static_cast<int>(millis));
    return full;
}

} // namespace netd
