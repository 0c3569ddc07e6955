#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <sys/stat.h>

// The permission bits of a file as the kernel has them; -1 when it does not exist.
inline int modeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

// A file's bytes; empty when it cannot be read.
inline QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
