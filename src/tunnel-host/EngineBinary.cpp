#include "EngineBinary.h"

#include "platform/TunnelPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace EngineBinary {

namespace {

const char temporaryPrefix[] = ".engine-copy.";

QString systemError(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

bool carriesPrivileges(const QByteArray& path, const struct stat& info) {
    if (info.st_mode & (S_ISUID | S_ISGID))
        return true;
    return ::getxattr(path.constData(), "security.capability", nullptr, 0) >= 0;
}

bool sameFile(const struct stat& copy, const struct stat& source) {
    return S_ISREG(copy.st_mode) && copy.st_uid == ::getuid() && (copy.st_mode & 07777) == 0700 &&
           copy.st_size == source.st_size && copy.st_mtim.tv_sec == source.st_mtim.tv_sec &&
           copy.st_mtim.tv_nsec == source.st_mtim.tv_nsec;
}

// Every byte of `from` into `to`; 0 or an errno (a short write counts as "no space").
int copyBytes(int from, int to) {
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        if (got == 0)
            return 0;
        ssize_t written = 0;
        while (written < got) {
            const ssize_t chunk = ::write(to, buffer + written, size_t(got - written));
            if (chunk < 0 && errno == EINTR)
                continue;
            if (chunk <= 0)
                return chunk < 0 ? errno : ENOSPC;
            written += chunk;
        }
    }
}

// A fresh copy, written beside the old one and renamed over it: a host still running the old
// copy keeps it, and nobody ever starts half a file.
QString makeCopy(const QByteArray& source, const struct stat& info, const QByteArray& target,
                 const QByteArray& folder) {
    const int from = ::open(source.constData(), O_RDONLY | O_CLOEXEC);
    if (from < 0)
        return systemError(errno);
    QByteArray temporary = folder + '/' + temporaryPrefix + "XXXXXX";
    const int to = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (to < 0) {
        const int error = errno;
        ::close(from);
        return systemError(error);
    }
    int error = copyBytes(from, to);
    ::close(from);
    const timespec times[2] = {info.st_atim, info.st_mtim};
    if (error == 0 && (::fchmod(to, 0700) != 0 || ::futimens(to, times) != 0))
        error = errno;
    if (::close(to) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        return systemError(error);
    }
    return {};
}

} // namespace

Prepared prepare(const QString& installed, const QString& cacheDir) {
    const QString found =
        installed.contains(QLatin1Char('/')) ? installed : QStandardPaths::findExecutable(installed);
    if (found.isEmpty())
        return {installed, {}, {}};
    const QByteArray source = QFile::encodeName(found);
    struct stat info {};
    if (::stat(source.constData(), &info) != 0 || !S_ISREG(info.st_mode) || !carriesPrivileges(source, info))
        return {found, {}, {}};

    if (!TunnelPaths::ensurePrivateDir(cacheDir))
        return {found, cacheDir + QStringLiteral(": not a private folder of this user"), {}};
    const QByteArray folder = QFile::encodeName(cacheDir);
    const QByteArray target = folder + '/' + QFile::encodeName(QFileInfo(found).fileName());
    struct stat copy {};
    const QString assetDir = QFileInfo(found).absolutePath();
    if (::lstat(target.constData(), &copy) == 0 && sameFile(copy, info))
        return {QFile::decodeName(target), {}, assetDir};
    const QString error = makeCopy(source, info, target, folder);
    if (!error.isEmpty())
        return {found, QStringLiteral("cannot copy the engine to %1: %2").arg(cacheDir, error), {}};
    return {QFile::decodeName(target), {}, assetDir};
}

void clearLeftovers(const QString& cacheDir) {
    const QDir folder(cacheDir);
    for (const QString& name :
         folder.entryList({QLatin1String(temporaryPrefix) + QLatin1Char('*')}, QDir::Files | QDir::Hidden))
        QFile::remove(folder.filePath(name));
}

} // namespace EngineBinary
