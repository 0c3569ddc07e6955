#pragma once

#include "platform/ProcessExitWatch.h"
#include "platform/TunnelManager.h"

#include <QFileSystemWatcher>
#include <QPointer>
#include <QProcess>
#include <QTimer>

// The tunnel for the whole system: vemko-netd, started through pkexec, puts the rules up and runs
// the engine; the status it publishes for this network namespace (world-readable, no secret in it)
// tells how it goes.
//   helper "up"       -> Connected, with the time it came up, while its supervisor lives
//   helper "starting" -> Connecting
//   helper "blocked"  -> Reasserting, blocked() and why: everything stays refused
//   no state, "down"  -> Disconnected
// While pkexec waits for the administrator prompt, awaitingApproval() is true.
class SystemTunnelConnection final : public TunnelConnection {
    Q_OBJECT
public:
    // `command` runs the helper: by default pkexec and the installed helper. `stateRoot` holds
    // the helper's per-namespace folders.
    explicit SystemTunnelConnection(QStringList command = defaultCommand(), QString configFile = {},
                                    QString stateRoot = QStringLiteral("/run/vemko-netd"),
                                    QObject* parent = nullptr);

    static QString installedHelper(); // the path the polkit action names
    static QStringList defaultCommand();
    static bool helperInstalled();

    TunnelStatus status() const override { return m_status; }
    std::optional<QDateTime> connectedDate() const override { return m_connectedDate; }
    void start(const QJsonObject& options) override;
    void stop() override;
    bool awaitingApproval() const override { return m_awaitingApproval; }
    void askAgain() override;
    bool blocked() const override { return m_blocked; }
    std::optional<QString> blockedReason() const override { return m_blockedReason; }
    std::optional<QString> failure() const override { return m_failure; }

private:
    void runHelper(const QString& verb, const QByteArray& input);
    void helperFinished(QProcess* process, const QString& verb);
    void refresh();
    QString statusFile() const;

    QStringList m_command;
    QString m_configFile;
    QString m_stateRoot;
    QFileSystemWatcher m_watcher;
    QTimer m_poll;                     // while the tunnel starts, stops or is blocked
    ProcessExitWatch m_supervisorExit; // while it is up: the supervisor's end, with no timer
    QTimer m_approvalDelay;
    QPointer<QProcess> m_helper;
    QByteArray m_helperInput; // what the running helper was given, for asking again
    QString m_pendingVerb;    // asked for while a helper runs: runs after it, with its input
    QByteArray m_pendingInput;
    TunnelStatus m_status = TunnelStatus::Disconnected;
    std::optional<QDateTime> m_connectedDate;
    bool m_awaitingApproval = false;
    bool m_askingAgain = false; // the waiting pkexec was ended on purpose: its verb runs again
    bool m_blocked = false;
    std::optional<QString> m_blockedReason;
    std::optional<QString> m_failure;
};
