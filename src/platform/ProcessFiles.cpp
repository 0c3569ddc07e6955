#include "platform/ProcessFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace ProcessFiles {

void ignoreFileSizeSignal() {
    ::signal(SIGXFSZ, SIG_IGN);
}

void removeLeftoverTemporaries(const QString& path) {
    const QFileInfo target(path);
    const QDir folder = target.absoluteDir();
    const QString prefix = target.fileName() + QLatin1Char('.');
    for (const QString& name :
         folder.entryList({prefix + QStringLiteral("??????")}, QDir::Files | QDir::Hidden | QDir::System)) {
        const QStringView suffix = QStringView(name).mid(prefix.size());
        if (!std::all_of(suffix.begin(), suffix.end(), [](QChar c) { return c.isLetterOrNumber(); }))
            continue;
        const QByteArray native = QFile::encodeName(folder.filePath(name));
        struct stat info {};
        if (::lstat(native.constData(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::getuid())
            ::unlink(native.constData());
    }
}

} // namespace ProcessFiles
