#include "platform/LinuxTunnelManager.h"

#include "platform/PlatformError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

LinuxTunnelManager::LinuxTunnelManager(QString configFile, TunnelConnection* connection, bool saved)
    : m_configFile(std::move(configFile)), m_connection(connection), m_saved(saved) {}

QJsonObject LinuxTunnelManager::toJson() const {
    QJsonObject object{{"localizedDescription", localizedDescription}, {"isEnabled", isEnabled}};
    if (protocolConfiguration) {
        const TunnelProtocol& protocol = *protocolConfiguration;
        object.insert("protocolConfiguration",
                      QJsonObject{{"providerBundleIdentifier", protocol.providerBundleIdentifier},
                                  {"serverAddress", protocol.serverAddress},
                                  {"providerConfiguration", protocol.providerConfiguration},
                                  {"excludeLocalNetworks", protocol.excludeLocalNetworks}});
    }
    return object;
}

void LinuxTunnelManager::fromJson(const QJsonObject& object) {
    localizedDescription = object.value("localizedDescription").toString();
    isEnabled = object.value("isEnabled").toBool();
    protocolConfiguration.reset();
    const QJsonValue protocolValue = object.value("protocolConfiguration");
    if (!protocolValue.isObject())
        return;
    const QJsonObject protocol = protocolValue.toObject();
    protocolConfiguration = TunnelProtocol{
        protocol.value("providerBundleIdentifier").toString(), protocol.value("serverAddress").toString(),
        protocol.value("providerConfiguration").toObject(), protocol.value("excludeLocalNetworks").toBool()};
}

QCoro::Task<> LinuxTunnelManager::save() {
    QDir().mkpath(QFileInfo(m_configFile).absolutePath());
    // QSaveFile writes a temporary file and renames it over the old one on commit, so a failed
    // save never leaves a half-written configuration behind.
    // Unbuffered: QSaveFile commits a short write (file size limit, full disk) as success when the
    // bytes sit in its buffer; written directly, the short count shows and the old file stays.
    QSaveFile file(m_configFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw PlatformError(
            QStringLiteral("Не удалось сохранить настройки туннеля: %1").arg(file.errorString()));
    // The document holds server credentials: owner only, whatever the old file had.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray bytes = QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
    if (file.write(bytes) != bytes.size())
        file.cancelWriting();
    if (!file.commit())
        throw PlatformError(
            QStringLiteral("Не удалось сохранить настройки туннеля: %1").arg(file.errorString()));
    m_saved = true;
    co_return;
}

void LinuxTunnelManager::readFile() {
    QFile file(m_configFile);
    if (!file.open(QIODevice::ReadOnly))
        throw PlatformError(QStringLiteral("Настройки туннеля не найдены"));
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject())
        throw PlatformError(QStringLiteral("Настройки туннеля повреждены"));
    fromJson(document.object());
    m_saved = true;
}

QCoro::Task<> LinuxTunnelManager::load() {
    readFile();
    co_return;
}

TunnelConnection* LinuxTunnelManager::connection() {
    return m_saved ? m_connection.data() : nullptr;
}
