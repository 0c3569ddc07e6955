#include "netd/FileLock.h"

#include <fcntl.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace netd {

namespace {

int openLockFile(const std::string& path) {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

flock wholeFile(short type) {
    flock range{};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    return range;
}

} // namespace

std::optional<FileLock> FileLock::take(const std::string& path, std::chrono::milliseconds limit) {
    const int fd = openLockFile(path);
    if (fd < 0)
        return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        flock range = wholeFile(F_WRLCK);
        if (::fcntl(fd, F_SETLK, &range) == 0)
            return FileLock(fd);
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::close(fd);
    return std::nullopt;
}

std::optional<pid_t> FileLock::holder(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return std::nullopt;
    flock range = wholeFile(F_WRLCK);
    const bool asked = ::fcntl(fd, F_GETLK, &range) == 0;
    ::close(fd);
    if (!asked || range.l_type == F_UNLCK || range.l_pid <= 0)
        return std::nullopt;
    return range.l_pid;
}

FileLock::FileLock(FileLock&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

FileLock::~FileLock() {
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace netd
