#include "platform/SystemTunnelConnection.h"

#include "netd/NetnsKey.h"
#include "platform/Pkexec.h"
#include "platform/PlatformError.h"
#include "platform/TunnelPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int pollMs = 250;
// pkexec answering later than this is showing the administrator prompt.
constexpr int approvalDelayMs = 700;

// The helper's exit codes for a document it will not run, and for a port another program holds.
constexpr int helperRefusedDocument = 3;
constexpr int helperPortTaken = 6;

namespace texts {
const QString dismissed =
    QStringLiteral("Подтверждение отменено: туннель для всей системы не включён. Ничего не изменено.");
const QString notAuthorized =
    QStringLiteral("Нет прав на туннель для всей системы: polkit отказал или пароль "
                   "не принят. Ничего не изменено.");
const QString documentRefused = QStringLiteral("Помощник vemko-netd отклонил настройки сервера");
const QString helperFailed = QStringLiteral("Помощник vemko-netd не смог %1 туннель: %2");
const QString notStarted = QStringLiteral("Не удалось запустить помощник vemko-netd (%1)");
const QString portTaken =
    QStringLiteral("Порт 127.0.0.1:%1 занят другой программой: туннель для всей системы не включён");
// Why the kill switch holds, by the helper's word for it; anything else is the tunnel breaking off.
const QString rulesLost = QStringLiteral("Правила туннеля удалены другой программой и не восстанавливаются — "
                                         "интернет заблокирован, пока вы не отключите VPN");
const QString portTakenBlocked = QStringLiteral("Порт движка туннеля занят другой программой — интернет "
                                                "заблокирован, пока вы не отключите VPN");
} // namespace texts

// The supervisor that vouches for "up": a process known by its pid and start time (a pid alone may
// be a later process's).
bool processRuns(const QByteArray& pid, const QByteArray& started) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(pid)));
    if (pid.toLongLong() <= 1 || !stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.read(4096);
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.value(19) == started; // field 22, counted from field 3
}

} // namespace

SystemTunnelConnection::SystemTunnelConnection(QStringList command, QString configFile, QString stateRoot,
                                               QObject* parent)
    : TunnelConnection(parent), m_command(std::move(command)), m_configFile(std::move(configFile)),
      m_stateRoot(std::move(stateRoot)) {
    m_poll.setInterval(pollMs);
    connect(&m_poll, &QTimer::timeout, this, &SystemTunnelConnection::refresh);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &SystemTunnelConnection::refresh);
    connect(&m_supervisorExit, &ProcessExitWatch::exited, this, &SystemTunnelConnection::refresh);
    m_approvalDelay.setSingleShot(true);
    m_approvalDelay.setInterval(approvalDelayMs);
    connect(&m_approvalDelay, &QTimer::timeout, this, [this] {
        m_awaitingApproval = m_helper != nullptr;
        emit statusChanged();
    });
    refresh();
}

QString SystemTunnelConnection::installedHelper() {
    return QStringLiteral("/usr/libexec/vemko-vpn/vemko-netd");
}

QStringList SystemTunnelConnection::defaultCommand() {
    return {pkexec::program, installedHelper()};
}

bool SystemTunnelConnection::helperInstalled() {
    const QFileInfo helper(installedHelper());
    return helper.isExecutable() && helper.ownerId() == 0 &&
           QFileInfo(defaultCommand().first()).isExecutable();
}

// The rules belong to a network namespace; so does the helper's state.
QString SystemTunnelConnection::statusFile() const {
    const std::string key = netd::netnsKey();
    return key.empty() ? QString() : m_stateRoot + QLatin1Char('/') + QString::fromStdString(key) + ".status";
}

void SystemTunnelConnection::start(const QJsonObject& options) {
    const QJsonValue config = options.value("config");
    if (!config.isUndefined() && !config.isString())
        throw PlatformError(QStringLiteral("Неверные параметры запуска туннеля"));
    const QByteArray text =
        config.isString() ? config.toString().toUtf8() : TunnelPaths::savedEngineDocument(m_configFile);
    const QJsonDocument document = QJsonDocument::fromJson(text);
    if (!document.isObject())
        throw PlatformError(QStringLiteral("Настройки туннеля не найдены"));
    m_failure.reset();
    // The helper reads it through the allow-list itself and writes it for the engine it runs.
    runHelper(QStringLiteral("up"), text);
}

void SystemTunnelConnection::stop() {
    runHelper(QStringLiteral("down"), {});
}

// One helper at a time: a verb asked for while another runs waits for it (pkexec runs as root,
// we could not end it anyway), and only the last one asked for runs.
void SystemTunnelConnection::runHelper(const QString& verb, const QByteArray& input) {
    if (m_helper) {
        m_pendingVerb = verb;
        m_pendingInput = input;
        return;
    }
    auto* process = new QProcess(this);
    m_helper = process;
    process->setProgram(m_command.first());
    process->setArguments(m_command.mid(1) << verb);
    process->setProcessChannelMode(QProcess::SeparateChannels);
    m_helperInput = input;
    connect(process, &QProcess::finished, this, [this, process, verb] { helperFinished(process, verb); });
    connect(process, &QProcess::errorOccurred, this, [this, process, verb](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            helperFinished(process, verb);
    });
    process->start();
    // The document goes through the pipe only: never a file, never an argument.
    process->write(input);
    process->closeWriteChannel();
    m_approvalDelay.start();
    refresh();
}

// pkexec still waits for the password while it runs as the user: it can be ended, and the same verb
// asked again. Once it runs the helper as root the signal is refused, and the helper's answer stands.
void SystemTunnelConnection::askAgain() {
    if (!m_helper || !m_awaitingApproval)
        return;
    m_askingAgain = true;
    m_helper->terminate();
}

void SystemTunnelConnection::helperFinished(QProcess* process, const QString& verb) {
    if (process != m_helper)
        return;
    const bool started = process->error() != QProcess::FailedToStart;
    const int code = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
    bool reasking = false;
    if (std::exchange(m_askingAgain, false) && started && process->exitStatus() == QProcess::CrashExit) {
        // Withdrawn on purpose: the same verb asks again, unless a later one was asked for meanwhile.
        if (m_pendingVerb.isEmpty()) {
            reasking = true;
            m_pendingVerb = verb;
            m_pendingInput = m_helperInput;
        }
    } else if (!started)
        m_failure = texts::notStarted.arg(process->errorString());
    else if (code == pkexec::dismissed)
        m_failure = texts::dismissed;
    else if (code == pkexec::notAuthorized)
        m_failure = texts::notAuthorized;
    else if (code == helperRefusedDocument)
        m_failure = texts::documentRefused;
    else if (code == helperPortTaken)
        m_failure = texts::portTaken.arg(pkexec::lastErrorLine(process->readAllStandardError(), {})
                                             .section(QLatin1String("127.0.0.1:"), 1)
                                             .section(' ', 0, 0));
    else if (code != 0)
        m_failure = texts::helperFailed.arg(
            verb == QLatin1String("up") ? QStringLiteral("включить") : QStringLiteral("выключить"),
            pkexec::lastErrorLine(process->readAllStandardError(), QStringLiteral("vemko-netd: ")));
    const QString pending = std::exchange(m_pendingVerb, {});
    const QByteArray pendingInput = std::exchange(m_pendingInput, {});
    m_helper = nullptr;
    m_helperInput.clear(); // the server's credentials are kept no longer than the helper runs
    process->deleteLater();
    m_approvalDelay.stop();
    m_awaitingApproval = false;
    if (!pending.isEmpty())
        runHelper(pending, pendingInput);
    m_awaitingApproval = reasking; // the fresh prompt is up at once: the approval card stays
    refresh();
    emit statusChanged();
}

void SystemTunnelConnection::refresh() {
    const QString file = statusFile();
    if (m_watcher.directories().isEmpty() && QFileInfo(m_stateRoot).isDir())
        m_watcher.addPath(m_stateRoot);

    // "<word> <since> <reason> <supervisor pid> <its start time>"
    QFile state(file);
    const QList<QByteArray> fields =
        state.open(QIODevice::ReadOnly) ? state.read(256).simplified().split(' ') : QList<QByteArray>{};
    const QByteArray word = fields.value(0);
    TunnelStatus status = TunnelStatus::Disconnected;
    bool blocked = false;
    std::optional<QString> reason;
    std::optional<QDateTime> date;
    if (word == "up" && processRuns(fields.value(3), fields.value(4))) {
        status = TunnelStatus::Connected;
        date = QDateTime::fromString(QString::fromLatin1(fields.value(1)), Qt::ISODateWithMs);
        if (date && !date->isValid())
            date.reset();
    } else if (word == "starting") {
        status = TunnelStatus::Connecting;
    } else if (word == "up" || word == "blocked") {
        status = TunnelStatus::Reasserting;
        blocked = true;
        if (fields.value(2) == "rules-lost")
            reason = texts::rulesLost;
        else if (fields.value(2) == "port-taken")
            reason = texts::portTakenBlocked;
    }
    if (m_helper) // the helper's word is not in yet
        status = m_helper->arguments().last() == QLatin1String("up") ? TunnelStatus::Connecting
                                                                     : TunnelStatus::Disconnecting;

    // Up, the supervisor reports a dead engine in its state file; only its own end needs watching.
    const bool settled =
        status == TunnelStatus::Connected && m_supervisorExit.watch(fields.value(3).toLongLong());
    if (!settled)
        m_supervisorExit.clear();
    const bool active = !settled && (status != TunnelStatus::Disconnected || m_helper);
    if (active && !m_poll.isActive())
        m_poll.start();
    else if (!active)
        m_poll.stop();
    if (status == m_status && date == m_connectedDate && blocked == m_blocked && reason == m_blockedReason)
        return;
    m_status = status;
    m_connectedDate = date;
    m_blocked = blocked;
    m_blockedReason = reason;
    emit statusChanged();
}
