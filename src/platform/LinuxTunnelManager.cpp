#include "platform/LinuxTunnelManager.h"

#include "platform/OwnFile.h"
#include "platform/PlatformError.h"
#include "platform/ReplaceFile.h"
#include "platform/TunnelPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

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
    TunnelPaths::ensurePrivateDir(QFileInfo(m_configFile).absolutePath()); // a failure shows below
    // The document holds server credentials: replaceFile writes it owner-only, whatever the old
    // file allowed, and a failed save leaves the old file as it was.
    try {
        replaceFile(m_configFile, QJsonDocument(toJson()).toJson(QJsonDocument::Compact));
    } catch (const PlatformError& error) {
        throw PlatformError(
            QStringLiteral("Не удалось сохранить настройки туннеля: %1").arg(error.description));
    }
    m_saved = true;
    co_return;
}

void LinuxTunnelManager::readFile() {
    const auto bytes = OwnFile::read(m_configFile, qint64{32} << 20);
    if (!bytes)
        throw PlatformError(QStringLiteral("Настройки туннеля не найдены"));
    const QJsonDocument document = QJsonDocument::fromJson(*bytes);
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
