#include "platform/FallbackSecureStore.h"

#include "platform/PlatformError.h"
#include "platform/ReplaceFile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString FallbackSecureStore::defaultFolder() {
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    return dataHome + QStringLiteral("/vemko-vpn");
}

FallbackSecureStore::FallbackSecureStore(SecureStore& primary, QString folder)
    : m_primary(primary), m_folder(std::move(folder)) {}

QString FallbackSecureStore::fileFor(const QString& account) const {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    return plain.match(account).hasMatch() ? m_folder + u'/' + account : QString();
}

std::optional<QString> FallbackSecureStore::read(const QString& account) const {
    if (auto value = m_primary.read(account))
        return value;
    const QString path = fileFor(account);
    if (path.isEmpty())
        return std::nullopt;
    // A regular file of ours only: never follow a link, never block on a FIFO.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat info {};
    QFile file;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() ||
        info.st_size > 64 * 1024 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    const QString value = QString::fromUtf8(bytes);
    if (bytes.isEmpty() || value.toUtf8() != bytes) // not UTF-8: nothing stored
        return std::nullopt;
    return value;
}

bool FallbackSecureStore::write(const QString& account, const QString& value) {
    const QString path = fileFor(account);
    if (m_primary.write(account, value)) {
        if (!path.isEmpty())
            QFile::remove(path);
        return true;
    }
    if (path.isEmpty() || !QDir().mkpath(m_folder) ||
        ::chmod(QFile::encodeName(m_folder).constData(), 0700) != 0)
        return false;
    try {
        replaceFile(path, value.toUtf8());
        return true;
    } catch (const PlatformError&) {
        return false;
    }
}

void FallbackSecureStore::remove(const QString& account) {
    m_primary.remove(account);
    if (const QString path = fileFor(account); !path.isEmpty())
        QFile::remove(path);
}
