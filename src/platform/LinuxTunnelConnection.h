#pragma once

#include "platform/ProcessExitWatch.h"
#include "platform/TunnelHostState.h"
#include "platform/TunnelManager.h"

#include <QFileSystemWatcher>
#include <QTimer>

// The tunnel as vemko-tunnel carries it: start launches a detached host, stop signals it, and
// the status is read from the host's status file in the runtime folder.
class LinuxTunnelConnection final : public TunnelConnection {
    Q_OBJECT
public:
    LinuxTunnelConnection(QString hostExecutable, QString configFile, QString runtimeDir,
                          QObject* parent = nullptr);

    TunnelStatus status() const override { return m_status; }
    std::optional<QDateTime> connectedDate() const override { return m_connectedDate; }
    // Throws PlatformError when the host cannot be launched.
    void start(const QJsonObject& options) override;
    void stop() override;

    QString runtimeDir() const { return m_runtimeDir; }

private:
    void launch(const QByteArray& document, bool desktopProxy);
    void refresh();
    TunnelStatus readStatus(const std::optional<HostState>& state);

    QString m_hostExecutable;
    QString m_configFile;
    QString m_runtimeDir;
    QFileSystemWatcher m_watcher;
    QTimer m_liveness;           // while a host starts or stops
    ProcessExitWatch m_hostExit; // a connected host: its end, with no timer
    TunnelStatus m_status = TunnelStatus::Disconnected;
    std::optional<QDateTime> m_connectedDate;
    std::optional<QDateTime> m_troubleAt; // the host's last trouble report seen
    qint64 m_launchedPid = 0;             // a host we started that has not reported yet
    bool m_stopRequested = false;
};
