#pragma once

#include "platform/DesktopProxyConnection.h"
#include "platform/LinuxTunnelConnection.h"
#include "platform/SystemTunnelConnection.h"
#include "platform/TunnelManager.h"
#include "platform/TunnelMode.h"
#include "platform/TunnelPaths.h"

#include <QFileSystemWatcher>
#include <QJsonObject>
#include <functional>

// The tunnel service on Linux: one saved configuration file, carried by one vemko-tunnel host or,
// in the system-wide mode, by vemko-netd. The mode is read whenever a configuration is loaded or
// made, so the next connection attempt follows a changed setting.
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

    // A file in the runtime folder (a tmpfs, gone at restart), watched for other processes' notes.
    QJsonObject sharedNote() const override { return m_note; }
    void setSharedNote(const QJsonObject& note) override;

    void setModeSource(std::function<TunnelMode()> mode) { m_mode = std::move(mode); }
    // Replaces the system-wide connection (tests run the helper without pkexec).
    void setSystemConnection(std::unique_ptr<SystemTunnelConnection> connection);
    SystemTunnelConnection& systemConnection() { return *m_system; }

private:
    TunnelConnection* activeConnection();
    void readNote();

    QString m_configFile;
    QString m_noteFile;
    QFileSystemWatcher m_noteWatcher;
    QJsonObject m_note;
    LinuxTunnelConnection m_connection;
    DesktopProxyConnection m_desktopProxy{m_connection};
    std::unique_ptr<SystemTunnelConnection> m_system;
    std::function<TunnelMode()> m_mode = [] {
        return TunnelMode::Socks;
    };
};
