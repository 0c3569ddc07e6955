#include "platform/LinuxTunnelConnection.h"

#include "os/MemoryFile.h"
#include "platform/PlatformError.h"
#include "platform/SpawnInSession.h"
#include "platform/TunnelPaths.h"

#include <csignal>
#include <unistd.h>

namespace {

constexpr int livenessPollMs = 250;

} // namespace

LinuxTunnelConnection::LinuxTunnelConnection(QString hostExecutable, QString configFile, QString runtimeDir,
                                             QObject* parent)
    : TunnelConnection(parent), m_hostExecutable(std::move(hostExecutable)),
      m_configFile(std::move(configFile)), m_runtimeDir(std::move(runtimeDir)) {
    // The host replaces its status file by rename, which ends a watch on the file: watch the folder.
    if (TunnelPaths::ensurePrivateDir(m_runtimeDir))
        m_watcher.addPath(m_runtimeDir);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &LinuxTunnelConnection::refresh);
    // A killed host writes nothing: while one should run, check that it still does. A connected
    // host is watched for its end instead of looked at four times a second.
    m_liveness.setInterval(livenessPollMs);
    connect(&m_liveness, &QTimer::timeout, this, &LinuxTunnelConnection::refresh);
    connect(&m_hostExit, &ProcessExitWatch::exited, this, &LinuxTunnelConnection::refresh);
    refresh();
}

void LinuxTunnelConnection::start(const QJsonObject& options) {
    const QJsonValue config = options.value("config");
    if (!config.isUndefined() && !config.isString())
        throw PlatformError(QStringLiteral("Неверные параметры запуска туннеля"));
    if (!TunnelPaths::ensurePrivateDir(m_runtimeDir))
        throw PlatformError(
            QStringLiteral("Не удалось создать папку состояния туннеля %1").arg(m_runtimeDir));
    if (m_watcher.directories().isEmpty())
        m_watcher.addPath(m_runtimeDir);
    launch(config.toString().toUtf8(), options.value(desktopProxyOption).toBool());
}

// The host must outlive the app: it runs in a session of its own and never gets a signal meant
// for us. Its stdin is a memfd of ours holding the document: no named file, no argument carries
// it. An older host is replaced by the new one (it stops the old host, then takes over).
void LinuxTunnelConnection::launch(const QByteArray& document, bool desktopProxy) {
    QStringList arguments{QStringLiteral("--runtime-dir"), m_runtimeDir, QStringLiteral("--config-file"),
                          m_configFile};
    if (desktopProxy)
        arguments << QStringLiteral("--desktop-proxy");
    // The document goes in as the host's standard input: never on the command line or in a folder.
    os::Fd input;
    if (document.isEmpty()) {
        arguments << QStringLiteral("--saved");
    } else {
        input = os::memoryFile("vemko-tunnel-document",
                               std::string_view(document.constData(), size_t(document.size())));
        if (!input)
            throw PlatformError(QStringLiteral("Не удалось передать настройки туннелю"));
    }
    qint64 pid = 0;
    try {
        pid = spawnInSession(m_hostExecutable, arguments, input.get());
    } catch (const PlatformError& error) {
        throw PlatformError(QStringLiteral("Не удалось запустить vemko-tunnel (%1): %2")
                                .arg(m_hostExecutable, error.description));
    }
    m_launchedPid = pid;
    m_stopRequested = false;
    refresh();
}

void LinuxTunnelConnection::stop() {
    const bool launching = m_launchedPid != 0 && spawnedRuns(m_launchedPid);
    const auto runningPid =
        HostFiles::hostRunning(m_runtimeDir) ? HostFiles::readPid(m_runtimeDir) : std::nullopt;
    if (!launching && !runningPid)
        return;
    m_stopRequested = true;
    if (launching)
        ::kill(static_cast<pid_t>(m_launchedPid), SIGTERM);
    if (runningPid && *runningPid != m_launchedPid)
        ::kill(static_cast<pid_t>(*runningPid), SIGTERM);
    refresh();
}

TunnelStatus LinuxTunnelConnection::readStatus(const std::optional<HostState>& state) {
    if (m_launchedPid != 0) {
        if (state && state->pid == m_launchedPid)
            m_launchedPid = 0; // it has reported: from now on its file is the truth
        else if (spawnedRuns(m_launchedPid))
            return m_stopRequested ? TunnelStatus::Disconnecting : TunnelStatus::Connecting;
        else
            m_launchedPid = 0; // died before it could report
    }
    const bool active = state && state->phase != HostState::Phase::Disconnected;
    // A file that still says connected from a host that is gone (SIGKILL, crash) reads disconnected.
    if (active && HostFiles::hostRunning(m_runtimeDir)) {
        if (m_stopRequested)
            return TunnelStatus::Disconnecting;
        return state->phase == HostState::Phase::Connected ? TunnelStatus::Connected
                                                           : TunnelStatus::Connecting;
    }
    m_stopRequested = false;
    return TunnelStatus::Disconnected;
}

void LinuxTunnelConnection::refresh() {
    const bool hostsLeft = reapSpawned(); // a host we started that has ended is collected here
    const auto state = HostFiles::readState(m_runtimeDir);
    const TunnelStatus status = readStatus(state);
    std::optional<QDateTime> date;
    if (status == TunnelStatus::Connected && state)
        date = state->connectedDate;

    const bool running = status != TunnelStatus::Disconnected && status != TunnelStatus::Invalid;
    const bool settled = status == TunnelStatus::Connected && state && m_hostExit.watch(state->pid);
    if (!settled)
        m_hostExit.clear();
    // Also until a host that reported disconnected has exited and been collected.
    const bool poll = !settled && (running || hostsLeft);
    if (poll && !m_liveness.isActive())
        m_liveness.start();
    else if (!poll)
        m_liveness.stop();

    const auto trouble = status == TunnelStatus::Connected && state ? state->troubleAt : std::nullopt;
    if (trouble && trouble != m_troubleAt)
        emit trafficTrouble();
    m_troubleAt = trouble;

    if (status == m_status && date == m_connectedDate)
        return;
    m_status = status;
    m_connectedDate = date;
    emit statusChanged();
}
