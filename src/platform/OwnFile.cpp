#include "platform/OwnFile.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace OwnFile {

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

int openForReading(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (!isRegular(fd)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return blocking(fd);
}

std::optional<QByteArray> read(const QString& path, qint64 limit) {
    const int fd = openForReading(path);
    if (fd < 0)
        return std::nullopt;
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return std::nullopt;
    }
    return file.read(limit);
}

int openForWriting(const QString& path, int flags) {
    const QByteArray native = QFile::encodeName(path);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd =
            ::open(native.constData(), flags | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        if (fd >= 0 && isRegular(fd))
            return blocking(fd);
        if (fd >= 0)
            ::close(fd);
        else if (errno != ELOOP && errno != ENXIO && errno != EISDIR)
            return -1; // a link gives ELOOP, a FIFO without a reader ENXIO
        if (::unlink(native.constData()) != 0)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

} // namespace OwnFile
