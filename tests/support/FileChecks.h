#pragma once

#include "platform/ProcessFiles.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <sys/resource.h>
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

// Writes a whole file, making its folders; true when every byte was written.
inline bool writeFile(const QString& path, const QByteArray& bytes, bool executable = false) {
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly) &&
           file.write(bytes) == bytes.size() &&
           (!executable || file.setPermissions(file.permissions() | QFile::ExeOwner | QFile::ExeOther));
}

// Makes writes beyond `bytes` fail (EFBIG, as on a full disk) for as long as it lives; binds root
// too. SIGXFSZ is left to the app's own handling, which must keep the process alive.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ProcessFiles::ignoreFileSizeSignal();
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &m_old); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_old{};
};
