#include "TunnelHost.h"

#include "EngineBinary.h"
#include "ProxyGuard.h"
#include "SocksPort.h"
#include "engine/Document.h"
#include "platform/DesktopProxy.h"
#include "platform/OwnFile.h"
#include "platform/PlatformError.h"
#include "platform/ProcessFiles.h"
#include "platform/ReplaceFile.h"
#include "platform/SpawnInSession.h"
#include "platform/TunnelEngine.h"
#include "platform/TunnelPaths.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QRegularExpression>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int takeoverTickMs = 50;
constexpr int takeoverKillTicks = 100; // 5 s of SIGTERM before the old host gets SIGKILL
constexpr int takeoverGiveUpTicks = 160;
// The engine opens its port some 10 ms after it starts, and the connect flow waits for exactly
// that moment: look often at first, then back off for an engine that takes its time.
constexpr int socksFastTickMs = 1;
constexpr int socksFastForMs = 1000;
constexpr int socksSlowTickMs = 50;
constexpr int socksGiveUpMs = 15000; // the engine opens its port in milliseconds; 15 s is lost
constexpr int engineKillMs = 3000;
constexpr qint64 logLimitBytes = qint64{1024} * 1024; // the runtime folder is a small tmpfs
// A dead server fails every request the user makes: one report stands for a burst of them.
constexpr qint64 troubleReportEveryMs = 1000;

// "a > b > listen tcp 127.0.0.1:10808: bind: address already in use" → the innermost cause.
QString shortReason(const QString& line) {
    const qsizetype at = line.lastIndexOf(QLatin1String(" > "));
    QString reason = (at >= 0 ? line.mid(at + 3) : line).trimmed();
    if (reason.size() > 200)
        reason = reason.left(200);
    return reason;
}

// The engine gave up on a connection to the server itself (refused, unreachable, timed out),
// as opposed to a site the server could not reach.
bool serverUnreachable(const QString& line) {
    return line.contains(QLatin1String("failed to find an available destination"));
}

bool explainsFailure(const QString& line) {
    static const QRegularExpression failure(QStringLiteral("failed|panic|error|unknown|invalid"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression chatter(QStringLiteral("\\[(Info|Debug|Warning)\\]"));
    return failure.match(line).hasMatch() && !chatter.match(line).hasMatch();
}

} // namespace

TunnelHost::TunnelHost(QString runtimeDir, QByteArray document, bool desktopProxy, QObject* parent)
    : QObject(parent), m_runtimeDir(std::move(runtimeDir)), m_document(std::move(document)),
      m_lock(m_runtimeDir), m_desktopProxy(desktopProxy) {
    m_takeoverTimer.setInterval(takeoverTickMs);
    connect(&m_takeoverTimer, &QTimer::timeout, this, &TunnelHost::takeOver);
    m_socksTimer.setTimerType(Qt::PreciseTimer);
    m_socksTimer.setInterval(socksFastTickMs);
    connect(&m_socksTimer, &QTimer::timeout, this, &TunnelHost::checkSocks);
    m_killTimer.setSingleShot(true);
    m_killTimer.setInterval(engineKillMs);
    connect(&m_killTimer, &QTimer::timeout, &m_engine, &QProcess::kill);

    m_engine.setProcessChannelMode(QProcess::MergedChannels);
    const pid_t host = getpid();
    m_engine.setChildProcessModifier([host] {
        // The engine must never outlive the host, not even a SIGKILLed one.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != host)
            ::_exit(1);
    });
    connect(&m_engine, &QProcess::readyReadStandardOutput, this, &TunnelHost::readEngineOutput);
    connect(&m_engine, &QProcess::finished, this, &TunnelHost::engineFinished);
    connect(&m_engine, &QProcess::errorOccurred, this, &TunnelHost::engineError);
}

TunnelHost::~TunnelHost() {
    // Whatever happens to the host, the engine goes with it.
    if (m_engine.state() != QProcess::NotRunning) {
        m_engine.kill();
        m_engine.waitForFinished(engineKillMs);
    }
    if (m_guard >= 0)
        ::close(m_guard);
}

void TunnelHost::run() {
    if (m_lock.tryAcquire())
        return begin();
    takeOver();
    m_takeoverTimer.start();
}

// A host still runs an older document: ask it to stop and wait for its lock.
void TunnelHost::takeOver() {
    if (m_lock.tryAcquire()) {
        m_takeoverTimer.stop();
        return begin();
    }
    const auto previous = HostFiles::readPid(m_runtimeDir);
    const bool previousRuns = previous && *previous != getpid() &&
                              HostFiles::processRuns(*previous, QCoreApplication::applicationFilePath());
    if (previousRuns && *previous != m_askedToStop) {
        ::kill(static_cast<pid_t>(*previous), SIGTERM);
        m_askedToStop = *previous;
    }
    if (previousRuns && m_takeoverTicks == takeoverKillTicks)
        ::kill(static_cast<pid_t>(*previous), SIGKILL);
    if (++m_takeoverTicks > takeoverGiveUpTicks) {
        m_takeoverTimer.stop();
        qWarning("vemko-tunnel: the previous tunnel host does not give up its lock");
        emit finished(3);
    }
}

void TunnelHost::begin() {
    if (m_desktopProxy)
        startGuard();
    ProcessFiles::removeLeftoverTemporaries(HostFiles::statusFile(m_runtimeDir));
    ProcessFiles::removeLeftoverTemporaries(HostFiles::pidFile(m_runtimeDir));
    // Never through a link: the host would overwrite whatever it points at.
    const int logFd = OwnFile::openForWriting(HostFiles::logFile(m_runtimeDir), O_WRONLY | O_TRUNC);
    if (logFd >= 0) {
        ::fchmod(logFd, 0600);
        m_log.open(logFd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle);
    }
    // The document is read through the allow-list again and written fresh for the engine that
    // runs here: the host never passes on a member it did not write itself.
    const auto server =
        engine::readServer(std::string_view(m_document.constData(), size_t(m_document.size())));
    m_document.fill('\0'); // the credentials are not kept around longer than needed
    m_document.clear();
    if (const auto* refusal = std::get_if<engine::Refusal>(&server))
        return end(QString::fromStdString(refusal->reason), 2);
    const engine::Discovered& found = TunnelEngine::found();
    if (!found.engine)
        return end(QString::fromStdString(found.problem), 2);
    if (const auto why = engine::unusableReason(std::get<engine::Server>(server), *found.engine))
        return end(QString::fromStdString(*why), 2);
    engine::Listeners listeners;
    if (m_desktopProxy)
        listeners.httpPort = ProxyGuard::httpPort;
    std::string document = engine::writeDocument(std::get<engine::Server>(server), *found.engine, listeners);

    // The engine first: its start-up is most of the connect time, the files below overlap with it.
    const QString installed = QFile::decodeName(QByteArray::fromStdString(found.engine->path));
    const QString cacheDir = TunnelPaths::defaultCacheDir();
    EngineBinary::clearLeftovers(cacheDir);
    const EngineBinary::Prepared prepared = EngineBinary::prepare(installed, cacheDir);
    if (!prepared.error.isEmpty())
        return end(prepared.error, 2);
    // A private copy looks for its data files where the installed binary is.
    const QString assetDir = !found.engine->assetDir.empty()
                                 ? QFile::decodeName(QByteArray::fromStdString(found.engine->assetDir))
                                 : prepared.assetDir;
    if (!assetDir.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(found.engine->assetVariable()), assetDir);
        m_engine.setProcessEnvironment(environment);
    }
    QStringList arguments;
    for (const std::string& argument : found.engine->runArguments())
        arguments << QString::fromStdString(argument);
    m_socksSince.start();
    m_engine.start(prepared.program, arguments);
    if (!m_engine.waitForStarted())
        return; // engineError reports it
    // The engine reads its input to the end before it starts: close it.
    m_engine.write(document.data(), qint64(document.size()));
    m_engine.closeWriteChannel();
    std::fill(document.begin(), document.end(), '\0');
    try {
        replaceFile(HostFiles::pidFile(m_runtimeDir), QByteArray::number(getpid()) + '\n');
    } catch (const PlatformError& error) {
        log(QStringLiteral("cannot write the pid file: %1").arg(error.description));
    }
    if (!report(HostState::Phase::Connecting))
        return;
    log(prepared.program == installed ? QStringLiteral("started %1 %2").arg(TunnelEngine::name(), installed)
                                      : QStringLiteral("started %1 %2 (capability-free copy of %3)")
                                            .arg(TunnelEngine::name(), prepared.program, installed));
    m_socksTimer.start();
}

void TunnelHost::checkSocks() {
    if (m_connected || m_stopping || m_engine.state() != QProcess::Running)
        return;
    // From the kernel's socket table only: a test connection would be logged by the engine.
    if (SocksPort::listenedBy(m_engine.processId())) {
        m_socksTimer.stop();
        m_connected = true;
        m_connectedAt = QDateTime::currentDateTimeUtc();
        log(QStringLiteral("SOCKS inbound 127.0.0.1:%1 is up").arg(SocksPort::port));
        report(HostState::Phase::Connected);
        return;
    }
    const qint64 waited = m_socksSince.elapsed();
    if (waited >= socksFastForMs && m_socksTimer.interval() != socksSlowTickMs)
        m_socksTimer.setInterval(socksSlowTickMs);
    if (waited >= socksGiveUpMs) {
        m_socksTimer.stop();
        m_failureLine = QStringLiteral("SOCKS inbound 127.0.0.1:10808 did not open");
        m_engine.terminate();
        m_killTimer.start();
    }
}

void TunnelHost::readEngineOutput() {
    const QByteArray output = m_engine.readAll();
    if (m_log.isOpen()) {
        if (m_log.pos() > logLimitBytes) {
            m_log.resize(0);
            m_log.seek(0);
            log(QStringLiteral("log restarted after %1 bytes").arg(logLimitBytes));
        }
        m_log.write(output);
        m_log.flush();
    }
    m_partialLine += output;
    qsizetype newline;
    while ((newline = m_partialLine.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_partialLine.left(newline)).trimmed();
        m_partialLine.remove(0, newline + 1);
        if (explainsFailure(line))
            m_failureLine = line;
        if (m_connected && serverUnreachable(line))
            reportTrouble();
    }
    if (m_partialLine.size() > qsizetype{64} * 1024) // a runaway line without end: keep memory bounded
        m_partialLine.clear();
    // The engine reports "started" once its inbounds listen: look now, not at the next tick.
    if (!m_connected && m_socksTimer.isActive())
        checkSocks();
}

void TunnelHost::engineFinished(int exitCode, QProcess::ExitStatus exitStatus) {
    m_socksTimer.stop();
    m_killTimer.stop();
    readEngineOutput();
    if (!m_partialLine.isEmpty() && explainsFailure(QString::fromUtf8(m_partialLine)))
        m_failureLine = QString::fromUtf8(m_partialLine).trimmed();
    log(QStringLiteral("engine exited (%1 %2)")
            .arg(exitStatus == QProcess::NormalExit ? QStringLiteral("code") : QStringLiteral("signal"))
            .arg(exitCode));
    if (m_stopping)
        return end(QStringLiteral("stopped"), 0);
    QString reason = shortReason(m_failureLine);
    if (reason.isEmpty())
        reason = exitStatus == QProcess::NormalExit
                     ? QStringLiteral("engine exited with code %1").arg(exitCode)
                     : QStringLiteral("engine crashed");
    end(reason, 1);
}

void TunnelHost::engineError(QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart)
        return; // crashes arrive through finished()
    end(QStringLiteral("engine %1 cannot be started: %2").arg(m_engine.program(), m_engine.errorString()), 2);
}

void TunnelHost::stop() {
    if (m_stopping)
        return;
    m_stopping = true;
    if (!m_lock.held()) {
        // Still waiting for an older host: leave its report alone, it ends by itself.
        m_takeoverTimer.stop();
        emit finished(0);
        return;
    }
    if (m_engine.state() == QProcess::NotRunning)
        return end(QStringLiteral("stopped"), 0);
    log(QStringLiteral("stop requested"));
    m_engine.terminate();
    m_killTimer.start();
}

// A tunnel the app cannot see must not run: when the state cannot be written (a full runtime
// folder, say), the engine stops and the host ends with the reason.
bool TunnelHost::report(HostState::Phase phase, const QString& reason) {
    HostState state;
    state.phase = phase;
    state.pid = getpid();
    state.reason = reason;
    if (phase == HostState::Phase::Connected) {
        state.connectedDate = m_connectedAt;
        state.troubleAt = m_troubleAt;
    }
    try {
        replaceFile(HostFiles::statusFile(m_runtimeDir), state.toJson());
        return true;
    } catch (const PlatformError& error) {
        const QString failure = QStringLiteral("cannot write the status file: %1").arg(error.description);
        if (phase == HostState::Phase::Disconnected)
            log(failure);
        else
            end(failure, 4);
        return false;
    }
}

void TunnelHost::reportTrouble() {
    if (m_stopping || (m_troubleAt && m_sinceTrouble.elapsed() < troubleReportEveryMs))
        return;
    m_troubleAt = QDateTime::currentDateTimeUtc();
    m_sinceTrouble.start();
    report(HostState::Phase::Connected);
}

void TunnelHost::end(const QString& reason, int exitCode) {
    if (m_ended)
        return;
    m_ended = true;
    m_socksTimer.stop();
    if (m_engine.state() != QProcess::NotRunning) {
        m_engine.kill();
        m_engine.waitForFinished(engineKillMs);
    }
    log(QStringLiteral("disconnected: %1").arg(reason));
    if (m_desktopProxy)
        DesktopProxy().restore(); // nothing would answer at the entries the settings name
    report(HostState::Phase::Disconnected, reason);
    if (HostFiles::readPid(m_runtimeDir) == getpid())
        QFile::remove(HostFiles::pidFile(m_runtimeDir));
    emit finished(exitCode);
}

// The guard holds the other end of a pipe only this process writes to: it reads end-of-file the
// moment this process is gone, SIGKILL included.
void TunnelHost::startGuard() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return log(QStringLiteral("no proxy guard: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    try {
        spawnInSession(QCoreApplication::applicationFilePath(),
                       {QStringLiteral("--proxy-guard"), QStringLiteral("--runtime-dir"), m_runtimeDir},
                       ends[0]);
        m_guard = ends[1];
    } catch (const PlatformError& error) {
        ::close(ends[1]);
        log(QStringLiteral("no proxy guard: %1").arg(error.description));
    }
    ::close(ends[0]);
}

void TunnelHost::log(const QString& line) {
    if (!m_log.isOpen())
        return;
    m_log.write(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8() +
                " vemko-tunnel: " + line.toUtf8() + '\n');
    m_log.flush();
}
