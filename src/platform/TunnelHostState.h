#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

// What vemko-tunnel reports about itself in its runtime folder, and how the app reads it.
// The host writes; the app (LinuxTunnelConnection) only reads and signals.
struct HostState {
    enum class Phase { Connecting, Connected, Disconnected };

    Phase phase = Phase::Disconnected;
    std::optional<QDateTime> connectedDate;
    qint64 pid = 0;
    QString reason; // short, for people reading the file; the full story is in the log
    // The engine's last report of connections to the server that failed, while connected.
    std::optional<QDateTime> troubleAt;

    QByteArray toJson() const;
    // Nothing for a file that is not a status object (half-written files never exist: the host
    // replaces it by rename, but a foreign or damaged file must not crash the reader).
    static std::optional<HostState> fromJson(const QByteArray& json);
};

namespace HostFiles {

QString statusFile(const QString& runtimeDir);
QString pidFile(const QString& runtimeDir);
QString lockFile(const QString& runtimeDir);
QString logFile(const QString& runtimeDir);

std::optional<HostState> readState(const QString& runtimeDir);
// Write to a temporary file and rename over the old one, so readers never see half a file.
bool writeState(const QString& runtimeDir, const HostState& state);

std::optional<qint64> readPid(const QString& runtimeDir);

// True while a host holds the host lock. The lock dies with its process, even a SIGKILLed one,
// so this cannot be fooled by a stale pid file or a reused pid.
bool hostRunning(const QString& runtimeDir);

// The pid is a live process (not a zombie) whose program is `program`.
bool processRuns(qint64 pid, const QString& program);

} // namespace HostFiles
