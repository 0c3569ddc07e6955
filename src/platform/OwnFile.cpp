#include "platform/OwnFile.h"

#include "os/OwnFile.h"

#include <QFile>
#include <unistd.h>

namespace OwnFile {

int openForReading(const QString& path) {
    return os::openForReading(QFile::encodeName(path).toStdString());
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
    return os::openForWriting(QFile::encodeName(path).toStdString(), flags);
}

} // namespace OwnFile
