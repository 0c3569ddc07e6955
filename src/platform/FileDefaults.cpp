#include "platform/Defaults.h"
#include "platform/OwnFile.h"
#include "platform/ProcessFiles.h"
#include "platform/TunnelPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>

namespace {

constexpr auto ownerOnlyFile = QFile::ReadOwner | QFile::WriteOwner;

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

} // namespace

QString FileDefaults::defaultPath() {
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative value is invalid and must be ignored.
    if (configHome.isEmpty() || QDir::isRelativePath(configHome))
        configHome = QDir::homePath() + QStringLiteral("/.config");
    return configHome + QStringLiteral("/vemko-vpn/defaults.json");
}

FileDefaults::FileDefaults(QString path) : m_path(std::move(path)) {
    ProcessFiles::removeLeftoverTemporaries(m_path);
    if (!QFileInfo::exists(m_path))
        return;
    if (auto loaded = readObject(m_path)) {
        m_values = std::move(*loaded);
        return;
    }
    m_saveBlocked = !moveAside(m_path);
}

std::optional<QJsonValue> FileDefaults::value(const QString& key) const {
    const auto found = m_values.constFind(key);
    if (found == m_values.constEnd())
        return std::nullopt;
    return *found;
}

void FileDefaults::setValue(const QString& key, const QJsonValue& value) {
    const auto found = m_values.constFind(key);
    if (found != m_values.constEnd() && *found == value)
        return;
    m_values.insert(key, value);
    save();
}

void FileDefaults::save() const {
    if (m_saveBlocked)
        return;
    const QFileInfo info(m_path);
    const QString folder = info.absolutePath();
    if (!QFileInfo::exists(folder) && !TunnelPaths::ensurePrivateDir(folder))
        return;
    // A failed write or commit leaves the previous file untouched; the values stay in memory.
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    // The temporary file gets the owner-only mode before any byte reaches it.
    if (!file.setPermissions(ownerOnlyFile)) {
        file.cancelWriting();
        return;
    }
    // QSaveFile takes a short write (disk full, file-size limit) for success: check the count.
    const QByteArray bytes = QJsonDocument(m_values).toJson(QJsonDocument::Indented);
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return;
    }
    file.commit();
}
