#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>

namespace netd {

// An exclusive record lock (fcntl) on a root-only file in the helper's folder, taken with a time
// limit: nobody else can open the file, and nothing waits for ever. A record lock tells who holds
// it, so `down` can ask a running `up` to give way.
class FileLock {
public:
    static std::optional<FileLock> take(const std::string& path, std::chrono::milliseconds limit);
    // The process holding the lock on `path`, if one does.
    static std::optional<pid_t> holder(const std::string& path);

    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&&) = delete;
    FileLock(const FileLock&) = delete;
    ~FileLock();

private:
    explicit FileLock(int fd) : m_fd(fd) {}
    int m_fd;
};

} // namespace netd
