#pragma once

#include <QCoroTask>
#include <QJsonObject>
#include <QString>
#include <chrono>
#include <optional>

class Clock;

// Where a server entry's proxy outbound connects: its first server's address and port.
struct ServerEndpoint {
    QString host;
    quint16 port = 0;
};
std::optional<ServerEndpoint> serverEndpoint(const QJsonObject& config);

// A direct TCP connection to the server, beside the engine's own: a refusal or an unreachable
// network answers in one round trip, where the engine retries for seconds before it gives up.
// True only for such an answer; a time-out (after `limit`) or a name that does not resolve
// tells nothing.
QCoro::Task<bool> refusesConnections(ServerEndpoint server, Clock* clock, std::chrono::milliseconds limit);
