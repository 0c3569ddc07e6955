#include "platform/LinuxTunnelSystem.h"

#include "platform/LinuxTunnelManager.h"
#include "platform/PlatformError.h"
#include "platform/ProcessFiles.h"

LinuxTunnelSystem::LinuxTunnelSystem(QString hostExecutable, QString configFile, QString runtimeDir,
                                     QObject* parent)
    : TunnelSystem(parent), m_configFile(configFile),
      m_connection(std::move(hostExecutable), std::move(configFile), std::move(runtimeDir)) {
    connect(&m_connection, &TunnelConnection::statusChanged, this, &TunnelSystem::statusChanged);
    ProcessFiles::removeLeftoverTemporaries(m_configFile);
}

QCoro::Task<std::vector<std::shared_ptr<TunnelManager>>> LinuxTunnelSystem::loadAll() {
    auto manager = std::make_shared<LinuxTunnelManager>(m_configFile, &m_connection, false);
    try {
        manager->readFile();
    } catch (const PlatformError&) {
        co_return std::vector<std::shared_ptr<TunnelManager>>{};
    }
    co_return std::vector<std::shared_ptr<TunnelManager>>{manager};
}

std::shared_ptr<TunnelManager> LinuxTunnelSystem::create() {
    return std::make_shared<LinuxTunnelManager>(m_configFile, &m_connection, false);
}
