#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QString>
#include <chrono>
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
    qint64 replyLimit = qint64{1} << 20; // bytes of body; a longer reply fails while it arrives
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
    // The whole exchange, however steadily bytes arrive (besides the 30 s without any byte).
    std::chrono::milliseconds deadline{std::chrono::minutes(2)};

    // The request with its device headers and, where the call wants it, the bearer token.
    // Redirects are followed within the origin only: the token and the device headers never
    // reach another host. Throws TransportError when the URL is not valid.
    QNetworkRequest build(const Call& call) const;
};

// Sends the call and waits for the reply. Throws TransportError when no complete HTTP reply came,
// the body grew past the call's limit, the deadline passed or a redirect led to another origin.
QCoro::Task<HttpReply> exchange(Transport transport, Call call);

// The body of a 2xx reply; any other status throws ApiError with the service's text.
QByteArray judged(const HttpReply& reply);

// exchange() then judged().
QCoro::Task<QByteArray> send(Transport transport, Call call);
