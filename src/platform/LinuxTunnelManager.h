#pragma once

#include "platform/TunnelManager.h"

#include <QJsonObject>
#include <QPointer>

// The one saved tunnel configuration: a JSON file (0600) the app rewrites before every
// connection attempt and vemko-tunnel reads when it is started without a document.
class LinuxTunnelManager final : public TunnelManager {
public:
    LinuxTunnelManager(QString configFile, TunnelConnection* connection, bool saved);

    QCoro::Task<> save() override;
    QCoro::Task<> load() override;
    TunnelConnection* connection() override;

    // Throws PlatformError when the file is missing or not a saved configuration.
    void readFile();

private:
    QJsonObject toJson() const;
    void fromJson(const QJsonObject& object);

    QString m_configFile;
    QPointer<TunnelConnection> m_connection;
    bool m_saved = false;
};
