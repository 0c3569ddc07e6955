#include "platform/ReplaceFile.h"

#include "platform/PlatformError.h"

#include <QFile>
#include <cstring>

int replaceFileErrno(const QString& path, const QByteArray& bytes, Durability durability) noexcept {
    return os::replaceFile(QFile::encodeName(path).toStdString(),
                           std::string_view(bytes.constData(), size_t(bytes.size())), durability);
}

void replaceFile(const QString& path, const QByteArray& bytes, Durability durability) {
    if (const int error = replaceFileErrno(path, bytes, durability))
        throw PlatformError(QString::fromLocal8Bit(std::strerror(error)));
}
