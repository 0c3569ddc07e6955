#pragma once

#include "HostLock.h"
#include "platform/TunnelHostState.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QProcess>
#include <QTimer>

// One tunnel session: take over from a host that still runs, start the engine with the
// document on its stdin, report connecting → connected → disconnected into the runtime folder,
// and end the engine with the host. For the desktop-proxy mode it also opens the HTTP entry and
// puts the desktop's proxy settings back when it ends, whatever ends it: itself when it can, else
// a guard process it starts (ProxyGuard) once it is gone.
class TunnelHost : public QObject {
    Q_OBJECT
public:
    TunnelHost(QString runtimeDir, QByteArray document, bool desktopProxy = false, QObject* parent = nullptr);
    ~TunnelHost() override;

    void run();
    // SIGTERM/SIGINT: end the engine, report disconnected, finish.
    void stop();

signals:
    void finished(int exitCode);

private:
    void takeOver();
    void begin();
    void startGuard();
    void checkSocks();
    void readEngineOutput();
    void engineFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void engineError(QProcess::ProcessError error);
    // False when the state could not be written (the host is then ending).
    bool report(HostState::Phase phase, const QString& reason = {});
    // The engine could not reach the server: tell the app (at most every few seconds).
    void reportTrouble();
    void end(const QString& reason, int exitCode);
    void log(const QString& line);

    QString m_runtimeDir;
    QByteArray m_document;
    HostLock m_lock;
    QFile m_log;
    QProcess m_engine;
    QTimer m_takeoverTimer;
    QTimer m_socksTimer;
    QTimer m_killTimer;
    int m_takeoverTicks = 0;
    qint64 m_askedToStop = 0;   // the older host already sent SIGTERM
    QElapsedTimer m_socksSince; // since the engine started
    std::optional<QDateTime> m_connectedAt;
    std::optional<QDateTime> m_troubleAt;
    QElapsedTimer m_sinceTrouble; // since the last trouble report
    bool m_stopping = false;
    bool m_connected = false;
    bool m_ended = false;
    QByteArray m_partialLine;
    QString m_failureLine; // the engine's last line that explains a failure
    bool m_desktopProxy = false;
    int m_guard = -1; // the pipe the guard waits on: it reads its end when this process is gone
};
