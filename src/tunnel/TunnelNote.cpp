#include "tunnel/TunnelNote.h"

#include <QCoreApplication>
#include <cerrno>
#include <csignal>

namespace {

std::optional<QDateTime> dateIn(const QJsonObject& object, const char* key) {
    const QDateTime date =
        QDateTime::fromString(object.value(QLatin1String(key)).toString(), Qt::ISODateWithMs);
    return date.isValid() ? std::optional(date) : std::nullopt;
}

QJsonValue dateText(const std::optional<QDateTime>& date) {
    return date ? QJsonValue(date->toUTC().toString(Qt::ISODateWithMs)) : QJsonValue();
}

bool processAlive(qint64 pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

} // namespace

TunnelNote TunnelNote::proof(QString server, std::optional<QDateTime> connected, QDateTime since) {
    TunnelNote note;
    note.server = std::move(server);
    note.connected = std::move(connected);
    note.since = std::move(since);
    return note;
}

TunnelNote TunnelNote::run(QString runner, QString server, bool recovering) {
    TunnelNote note;
    note.server = std::move(server);
    note.runPid = QCoreApplication::applicationPid();
    note.runner = std::move(runner);
    note.recovering = recovering;
    return note;
}

bool TunnelNote::proves(const std::optional<QDateTime>& date) const {
    // Both dates went through the same text form, so equal instants compare equal.
    const auto exact = [](const std::optional<QDateTime>& d) {
        return d ? std::optional(d->toMSecsSinceEpoch()) : std::nullopt;
    };
    return since && runPid == 0 && exact(connected) == exact(date);
}

bool TunnelNote::runsElsewhere(const QString& self) const {
    return runPid != 0 && runner != self && processAlive(runPid);
}

QJsonObject TunnelNote::toJson() const {
    QJsonObject object{{"server", server}};
    if (runPid != 0) {
        object.insert("runPid", runPid);
        object.insert("runner", runner);
        object.insert("recovering", recovering);
    } else if (since) {
        object.insert("connected", dateText(connected));
        object.insert("since", dateText(since));
    }
    return object;
}

TunnelNote TunnelNote::fromJson(const QJsonObject& object) {
    TunnelNote note;
    note.server = object.value("server").toString();
    note.runPid = object.value("runPid").toInteger();
    note.runner = object.value("runner").toString();
    note.recovering = object.value("recovering").toBool();
    note.connected = dateIn(object, "connected");
    note.since = dateIn(object, "since");
    return note;
}
