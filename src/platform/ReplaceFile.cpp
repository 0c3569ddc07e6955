#include "platform/ReplaceFile.h"

#include "platform/PlatformError.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString systemError(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

// Every byte or an errno: a short write (file size limit, full disk) is a failure, never success.
int writeAll(int fd, const QByteArray& bytes) {
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t chunk = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (chunk < 0 && errno == EINTR)
            continue;
        if (chunk <= 0)
            return chunk < 0 ? errno : ENOSPC;
        written += chunk;
    }
    return 0;
}

} // namespace

int replaceFileErrno(const QString& path, const QByteArray& bytes, Durability durability) noexcept {
    QByteArray temporary = QFile::encodeName(path) + ".XXXXXX";
    // mkostemp creates the file 0600 and owned by us, whatever the umask or the old file's mode.
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;
    int error = writeAll(fd, bytes);
    // Some file systems cannot sync (EINVAL): the rename is still atomic there.
    if (error == 0 && durability == Durability::Synced && ::fsync(fd) != 0 && errno != EINVAL)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        return error;
    }
    if (durability == Durability::Synced) {
        // The rename itself reaches the disk with the folder; the new file is in place either way.
        const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
        if (const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
    return 0;
}

void replaceFile(const QString& path, const QByteArray& bytes, Durability durability) {
    if (const int error = replaceFileErrno(path, bytes, durability))
        throw PlatformError(systemError(error));
}
