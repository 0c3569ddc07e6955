#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QString>
#include <optional>

class QNetworkAccessManager;
class Store;
class Keychain;

// One exchange with the service as an endpoint describes it.
struct Call {
    QByteArray verb; // "GET" or "POST"
    QString path;    // appended to the origin as it stands
    bool token = false;
    std::optional<QJsonObject> body;
};

// An HTTP reply: its status and its whole body.
struct HttpReply {
    int status = 0;
    QByteArray body;
};

// What every request is built from: the network, the device facts, the token store and the origin.
struct Transport {
    QNetworkAccessManager* network = nullptr;
    const Store* store = nullptr;
    const Keychain* keychain = nullptr;
    QString origin;

    // The request with its device headers and, where the call wants it, the bearer token.
    // Throws TransportError when the URL is not valid.
    QNetworkRequest build(const Call& call) const;
};

// Sends the call and waits for the reply. Throws TransportError when no complete HTTP reply came.
QCoro::Task<HttpReply> exchange(Transport transport, Call call);

// The body of a 2xx reply; any other status throws ApiError with the service's text.
QByteArray judged(const HttpReply& reply);

// exchange() then judged().
QCoro::Task<QByteArray> send(Transport transport, Call call);
