#include "os/OwnFile.h"

#include "os/Fd.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace os {

namespace {

bool isRegular(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

// Back to blocking I/O once the type is known to be a plain file.
int blocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

} // namespace

int openForReading(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (!isRegular(fd)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return blocking(fd);
}

std::optional<std::string> readOwnFile(const std::string& path, std::size_t limit) {
    const Fd fd(openForReading(path));
    if (!fd)
        return std::nullopt;
    std::string bytes;
    char buffer[16384];
    while (bytes.size() < limit) {
        const ssize_t got = ::read(fd.get(), buffer, std::min(sizeof buffer, limit - bytes.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}

int openForWriting(const std::string& path, int flags) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(path.c_str(), flags | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        if (fd >= 0 && isRegular(fd))
            return blocking(fd);
        if (fd >= 0)
            ::close(fd);
        else if (errno != ELOOP && errno != ENXIO && errno != EISDIR)
            return -1; // a link gives ELOOP, a FIFO without a reader ENXIO
        if (::unlink(path.c_str()) != 0)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

} // namespace os
