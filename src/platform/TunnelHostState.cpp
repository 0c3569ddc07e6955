#include "platform/TunnelHostState.h"

#include "platform/OwnFile.h"
#include "platform/PlatformError.h"
#include "platform/ReplaceFile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const char* phaseName(HostState::Phase phase) {
    switch (phase) {
    case HostState::Phase::Connecting:
        return "connecting";
    case HostState::Phase::Connected:
        return "connected";
    case HostState::Phase::Disconnected:
        return "disconnected";
    }
    return "disconnected";
}

std::optional<HostState::Phase> phaseFromName(const QString& name) {
    for (auto phase :
         {HostState::Phase::Connecting, HostState::Phase::Connected, HostState::Phase::Disconnected})
        if (name == QLatin1String(phaseName(phase)))
            return phase;
    return std::nullopt;
}

} // namespace

QByteArray HostState::toJson() const {
    QJsonObject object{{"status", QLatin1String(phaseName(phase))}, {"pid", pid}};
    if (connectedDate)
        object.insert("connectedDate", connectedDate->toUTC().toString(Qt::ISODateWithMs));
    if (!reason.isEmpty())
        object.insert("reason", reason);
    if (troubleAt)
        object.insert("troubleAt", troubleAt->toUTC().toString(Qt::ISODateWithMs));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<HostState> HostState::fromJson(const QByteArray& json) {
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const auto phase = phaseFromName(object.value("status").toString());
    if (!phase)
        return std::nullopt;
    HostState state;
    state.phase = *phase;
    state.pid = object.value("pid").toInteger();
    state.reason = object.value("reason").toString();
    const QDateTime date = QDateTime::fromString(object.value("connectedDate").toString(), Qt::ISODateWithMs);
    if (date.isValid())
        state.connectedDate = date;
    const QDateTime trouble = QDateTime::fromString(object.value("troubleAt").toString(), Qt::ISODateWithMs);
    if (trouble.isValid())
        state.troubleAt = trouble;
    return state;
}

namespace HostFiles {

QString statusFile(const QString& runtimeDir) {
    return runtimeDir + QStringLiteral("/status.json");
}
QString pidFile(const QString& runtimeDir) {
    return runtimeDir + QStringLiteral("/vemko-tunnel.pid");
}
QString lockFile(const QString& runtimeDir) {
    return runtimeDir + QStringLiteral("/vemko-tunnel.lock");
}
QString logFile(const QString& runtimeDir) {
    return runtimeDir + QStringLiteral("/vemko-tunnel.log");
}

std::optional<HostState> readState(const QString& runtimeDir) {
    const auto bytes = OwnFile::read(statusFile(runtimeDir), qint64{64} * 1024);
    if (!bytes)
        return std::nullopt;
    return HostState::fromJson(*bytes);
}

bool writeState(const QString& runtimeDir, const HostState& state) {
    try {
        replaceFile(statusFile(runtimeDir), state.toJson());
        return true;
    } catch (const PlatformError&) {
        return false;
    }
}

std::optional<qint64> readPid(const QString& runtimeDir) {
    const auto bytes = OwnFile::read(pidFile(runtimeDir), 32);
    if (!bytes)
        return std::nullopt;
    bool ok = false;
    const qint64 pid = bytes->trimmed().toLongLong(&ok);
    if (!ok || pid <= 0)
        return std::nullopt;
    return pid;
}

bool hostRunning(const QString& runtimeDir) {
    const int fd = OwnFile::openForReading(lockFile(runtimeDir));
    if (fd < 0)
        return false;
    // The host holds an exclusive lock for its whole life; a shared try-lock fails exactly then.
    const bool running = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd); // also drops our shared lock, if we got it
    return running;
}

bool processRuns(qint64 pid, const QString& program) {
    if (pid <= 0)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    // "pid (comm) S ...": the state letter follows the last ')'.
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0 || close + 2 >= line.size() || line.at(close + 2) == 'Z' || line.at(close + 2) == 'X')
        return false;
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!cmdline.open(QIODevice::ReadOnly))
        return false;
    const QByteArray argv0 = cmdline.readAll().split('\0').value(0);
    return QFileInfo(QFile::decodeName(argv0)).fileName() == QFileInfo(program).fileName();
}

} // namespace HostFiles
