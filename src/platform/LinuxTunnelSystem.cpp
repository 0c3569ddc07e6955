#include "platform/LinuxTunnelSystem.h"

#include "platform/LinuxTunnelManager.h"
#include "platform/PlatformError.h"
#include "platform/ProcessFiles.h"

LinuxTunnelSystem::LinuxTunnelSystem(QString hostExecutable, QString configFile, QString runtimeDir,
                                     QObject* parent)
    : TunnelSystem(parent), m_configFile(configFile),
      m_connection(std::move(hostExecutable), std::move(configFile), std::move(runtimeDir)) {
    ProcessFiles::removeLeftoverTemporaries(m_configFile);
    // The desktop-proxy connection follows the host's and tells the same changes.
    connect(&m_desktopProxy, &TunnelConnection::statusChanged, this, &TunnelSystem::statusChanged);
    setSystemConnection(
        std::make_unique<SystemTunnelConnection>(SystemTunnelConnection::defaultCommand(), m_configFile));
}

void LinuxTunnelSystem::setSystemConnection(std::unique_ptr<SystemTunnelConnection> connection) {
    m_system = std::move(connection);
    connect(m_system.get(), &TunnelConnection::statusChanged, this, &TunnelSystem::statusChanged);
}

TunnelConnection* LinuxTunnelSystem::activeConnection() {
    if (m_mode() == TunnelMode::System)
        return m_system.get();
    if (m_mode() == TunnelMode::DesktopProxy)
        return &m_desktopProxy;
    return &m_connection;
}

QCoro::Task<std::vector<std::shared_ptr<TunnelManager>>> LinuxTunnelSystem::loadAll() {
    auto manager = std::make_shared<LinuxTunnelManager>(m_configFile, activeConnection(), false);
    try {
        manager->readFile();
    } catch (const PlatformError&) {
        co_return std::vector<std::shared_ptr<TunnelManager>>{};
    }
    co_return std::vector<std::shared_ptr<TunnelManager>>{manager};
}

std::shared_ptr<TunnelManager> LinuxTunnelSystem::create() {
    return std::make_shared<LinuxTunnelManager>(m_configFile, activeConnection(), false);
}
