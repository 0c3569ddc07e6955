#pragma once

#include "platform/LinuxTunnelConnection.h"
#include "platform/TunnelManager.h"
#include "platform/TunnelPaths.h"

// The tunnel service on Linux: one saved configuration file and one vemko-tunnel host.
class LinuxTunnelSystem final : public TunnelSystem {
    Q_OBJECT
public:
    explicit LinuxTunnelSystem(QString hostExecutable = TunnelPaths::defaultHostExecutable(),
                               QString configFile = TunnelPaths::defaultConfigFile(),
                               QString runtimeDir = TunnelPaths::defaultRuntimeDir(),
                               QObject* parent = nullptr);

    // None when nothing is saved or the saved file is unreadable (the next save rewrites it).
    QCoro::Task<std::vector<std::shared_ptr<TunnelManager>>> loadAll() override;
    std::shared_ptr<TunnelManager> create() override;

    LinuxTunnelConnection& connection() { return m_connection; }

private:
    QString m_configFile;
    LinuxTunnelConnection m_connection;
};
