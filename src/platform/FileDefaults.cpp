#include "platform/Defaults.h"
#include "platform/OwnFile.h"
#include "platform/ProcessFiles.h"
#include "platform/ReplaceFile.h"
#include "platform/TunnelPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::optional<QJsonObject> readObject(const QString& path) {
    const auto bytes = OwnFile::read(path, qint64{1} << 20);
    if (!bytes)
        return std::nullopt;
    QJsonParseError error;
    const auto document = QJsonDocument::fromJson(*bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

// Keeps a file we cannot use for the user to inspect; an earlier one of the same second stays too.
bool moveAside(const QString& path) {
    const QString base = path + QStringLiteral(".corrupt-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int attempt = 1; attempt <= 100; ++attempt) {
        const QString target = attempt == 1 ? base : base + QLatin1Char('-') + QString::number(attempt);
        if (QFileInfo::exists(target))
            continue;
        // QFile::rename never replaces an existing target.
        if (QFile::rename(path, target))
            return true;
    }
    return false;
}

// An exclusive advisory lock on the settings folder (the file itself is replaced by rename, so a
// lock on it would not outlive a write; a folder lock leaves no extra file). Released when it goes.
class WriteLock {
public:
    explicit WriteLock(const QString& folder) {
        m_fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_fd < 0)
            return;
        while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~WriteLock() {
        if (m_fd >= 0)
            ::close(m_fd); // drops the lock
    }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

private:
    int m_fd = -1;
};

// Why a settings write failed, as the user reads it.
QString writeErrorText(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("нет места на диске");
    case EFBIG:
        return QStringLiteral("нет места на диске (файл больше допустимого размера)");
    case EACCES:
    case EPERM:
    case EROFS:
        return QStringLiteral("нет права записи в папку настроек");
    default:
        return QStringLiteral("ошибка записи (%1)").arg(qt_error_string(error));
    }
}

} // namespace

QString FileDefaults::defaultPath() {
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative value is invalid and must be ignored.
    if (configHome.isEmpty() || QDir::isRelativePath(configHome))
        configHome = QDir::homePath() + QStringLiteral("/.config");
    return configHome + QStringLiteral("/vemko-vpn/defaults.json");
}

FileDefaults::FileDefaults(QString path) : m_path(std::move(path)) {
    const QString folder = QFileInfo(m_path).absolutePath();
    if (QFileInfo::exists(folder)) {
        // Under the writers' lock: another process's temporary file is in use, not left over.
        const WriteLock lock(folder);
        ProcessFiles::removeLeftoverTemporaries(m_path);
    }
    reload();
}

std::optional<FileDefaults::Stamp> FileDefaults::stampOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return Stamp{static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino),
                 static_cast<qint64>(info.st_size),
                 static_cast<qint64>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

void FileDefaults::reload() const {
    const auto stamp = stampOf(m_path);
    if (stamp == m_stamp)
        return;
    m_stamp = stamp;
    if (!stamp) {
        // Removed by someone else: the settings are gone for every process alike.
        m_values = {};
        return;
    }
    if (auto loaded = readObject(m_path)) {
        m_values = std::move(*loaded);
        return;
    }
    // What this process holds stays; the unusable file is kept for the user to inspect.
    m_saveBlocked = !moveAside(m_path);
    m_stamp = stampOf(m_path);
}

std::optional<QJsonValue> FileDefaults::value(const QString& key) const {
    reload();
    const auto found = m_values.constFind(key);
    if (found == m_values.constEnd())
        return std::nullopt;
    return *found;
}

bool FileDefaults::setValue(const QString& key, const QJsonValue& value) {
    const bool folder = ensureFolder();
    // Read-modify-write of our one key, so another process's keys written meanwhile stay.
    std::optional<WriteLock> lock;
    if (folder)
        lock.emplace(QFileInfo(m_path).absolutePath());
    reload();
    const auto found = m_values.constFind(key);
    if (found != m_values.constEnd() && *found == value)
        return true;
    const std::optional<QJsonValue> previous =
        found != m_values.constEnd() ? std::optional<QJsonValue>(*found) : std::nullopt;
    m_values.insert(key, value);
    m_writeError =
        folder ? save() : QStringLiteral("папка настроек недоступна: ") + QFileInfo(m_path).absolutePath();
    if (m_writeError.isEmpty())
        return true;
    // What this store holds stays what the file holds: a change that was not saved did not happen.
    if (previous)
        m_values.insert(key, *previous);
    else
        m_values.remove(key);
    return false;
}

bool FileDefaults::ensureFolder() const {
    const QString folder = QFileInfo(m_path).absolutePath();
    return QFileInfo::exists(folder) || TunnelPaths::ensurePrivateDir(folder);
}

QString FileDefaults::save() const {
    if (m_saveBlocked)
        return QStringLiteral("файл настроек повреждён и не перемещается: ") + m_path;
    const QByteArray bytes = QJsonDocument(m_values).toJson(QJsonDocument::Indented);
    if (const int error = replaceFileErrno(m_path, bytes, Durability::Synced))
        return writeErrorText(error);
    m_stamp = stampOf(m_path); // our own write needs no re-read
    return {};
}
