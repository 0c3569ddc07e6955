#include "netd/State.h"

#include "netd/FileLock.h"
#include "netd/NetnsKey.h"

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

using namespace std::chrono_literals;

// Never follow a link or use a folder someone else made.
bool ownedFolder(const std::string& path, mode_t mode) {
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST)
        return false;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != 0)
        return false;
    return ::chmod(path.c_str(), mode) == 0;
}

// Whole or not at all: a reader never sees a file half written.
bool replace(const std::string& target, const std::string& text, mode_t mode) {
    const std::string temporary = target + ".new";
    ::unlink(temporary.c_str());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    const bool written =
        ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fchmod(fd, mode) == 0;
    ::close(fd);
    return written && ::rename(temporary.c_str(), target.c_str()) == 0;
}

std::string orDash(const std::string& text) {
    return text.empty() ? "-" : text;
}

} // namespace

std::string State::folder() {
    const std::string root = VEMKO_NETD_RUN_DIR;
    const std::string key = netnsKey();
    if (key.empty() || !ownedFolder(root, 0755) || !ownedFolder(root + "/" + key, 0700))
        return {};
    return root + "/" + key;
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
    std::string word, since, reason;
    uid_t caller = 0;
    file >> word >> since >> caller >> reason;
    Record record;
    record.since = since == "-" ? std::string() : since;
    record.caller = caller;
    record.reason = reason == "-" ? std::string() : reason;
    for (const Tunnel tunnel : {Tunnel::Up, Tunnel::Blocked, Tunnel::Starting})
        if (word == name(tunnel))
            record.tunnel = tunnel;
    return record;
}

bool State::write(const Record& record, std::optional<Tunnel> onlyFrom) const {
    const auto lock = FileLock::take(path("state.lock"), 5s);
    if (!lock || (onlyFrom && read().tunnel != *onlyFrom))
        return false;
    const std::string word = name(record.tunnel);
    const std::string state = word + " " + orDash(record.since) + " " + std::to_string(record.caller) + " " +
                              orDash(record.reason) + "\n";
    // The app's copy: what it shows, and the supervisor that vouches for "up" while it runs.
    std::ifstream supervisor(path("supervisor.pid"));
    long pid = 0;
    unsigned long long started = 0;
    supervisor >> pid >> started;
    const std::string status = word + " " + orDash(record.since) + " " + orDash(record.reason) + " " +
                               std::to_string(pid) + " " + std::to_string(started) + "\n";
    return replace(path("state"), state, 0600) && replace(m_folder + ".status", status, 0644);
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
    unsigned long long started = 0;
    // A pid whose process is gone may name a later one: only the same start time is the same process.
    if (!(in >> pid >> started) || pid <= 1 || startTime(static_cast<pid_t>(pid)) != started)
        return std::nullopt;
    return static_cast<pid_t>(pid);
}

void State::writePid(const char* file, pid_t pid) const {
    replace(path(file), std::to_string(pid) + " " + std::to_string(startTime(pid)) + "\n", 0600);
}

unsigned long long startTime(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(file, text);
    // The name in parentheses may hold spaces: count the fields after its closing one.
    const auto end = text.rfind(')');
    if (end == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(end + 2));
    std::string field;
    for (int index = 3; index < 22 && fields >> field;)
        ++index;
    unsigned long long started = 0;
    fields >> started;
    return started;
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
