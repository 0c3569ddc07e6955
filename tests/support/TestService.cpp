#include "support/TestService.h"

#include <QHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <sys/socket.h>

namespace {

QByteArray withoutQuery(const QByteArray& path) {
    const auto mark = path.indexOf('?');
    return mark < 0 ? path : path.left(mark);
}

bool bodyless(int status) {
    return (status >= 100 && status < 200) || status == 204 || status == 304;
}

// A hard reset (RST) rather than an orderly close, as a crashed or hostile peer would do.
void resetHard(QTcpSocket* socket) {
    const struct linger hard { 1, 0 };
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    socket->abort();
}

// One client connection: buffers bytes until a whole request is there, answers one request at a
// time (a delayed answer holds back the next request on the same connection, as HTTP/1.1 wants).
struct Connection {
    QPointer<QTcpSocket> socket;
    QByteArray buffer;
    bool answering = false;
};

} // namespace

bool RecordedRequest::hasHeader(const QByteArray& name) const {
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QByteArray RecordedRequest::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

QJsonValue RecordedRequest::json() const {
    QJsonParseError error{};
    const auto doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        return QJsonValue(QJsonValue::Undefined);
    return doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
}

ScriptedReply ScriptedReply::json(int status, const QJsonValue& body) {
    const auto doc = body.isArray() ? QJsonDocument(body.toArray()) : QJsonDocument(body.toObject());
    return text(status, doc.toJson(QJsonDocument::Compact), "application/json");
}

ScriptedReply ScriptedReply::text(int status, const QByteArray& body, const QByteArray& contentType) {
    ScriptedReply reply;
    reply.status = status;
    reply.body = body;
    if (!contentType.isEmpty())
        reply.headers.append({"Content-Type", contentType});
    return reply;
}

ScriptedReply ScriptedReply::empty(int status) {
    ScriptedReply reply;
    reply.status = status;
    return reply;
}

ScriptedReply ScriptedReply::reset() {
    ScriptedReply reply;
    reply.kind = Kind::Reset;
    return reply;
}

ScriptedReply ScriptedReply::garbage(const QByteArray& bytes) {
    ScriptedReply reply;
    reply.kind = Kind::Garbage;
    reply.body = bytes;
    return reply;
}

struct TestService::Private {
    TestService* owner = nullptr;
    QTcpServer server;
    QList<RecordedRequest> requests;
    QMap<QByteArray, QList<ScriptedReply>> queued;
    QMap<QByteArray, ScriptedReply> standing;
    QHash<QTcpSocket*, Connection> connections;

    static QByteArray routeKey(const QByteArray& method, const QByteArray& path) {
        return method + ' ' + path;
    }

    static bool routeMatches(const QByteArray& route, const RecordedRequest& request) {
        const auto space = route.indexOf(' ');
        const auto method = route.left(space);
        const auto path = route.mid(space + 1);
        if (method != request.method)
            return false;
        return path.contains('?') ? path == request.path : path == withoutQuery(request.path);
    }

    ScriptedReply replyFor(const RecordedRequest& request) {
        // The full path comes first, so a route with a query wins over the bare path's route.
        const QByteArray keys[] = {routeKey(request.method, request.path),
                                   routeKey(request.method, withoutQuery(request.path))};
        for (const auto& key : keys)
            if (auto found = queued.find(key); found != queued.end() && !found->isEmpty())
                return found->takeFirst();
        for (const auto& key : keys)
            if (standing.contains(key))
                return standing.value(key);
        return ScriptedReply::empty(404);
    }

    void accept() {
        while (auto* socket = server.nextPendingConnection()) {
            socket->setParent(owner);
            connections.insert(socket, Connection{socket, {}, false});
            QObject::connect(socket, &QTcpSocket::readyRead, owner, [this, socket] { serve(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, owner, [this, socket] {
                connections.remove(socket);
                socket->deleteLater();
            });
        }
    }

    // Takes one complete request off the connection's buffer, if there is one.
    std::optional<RecordedRequest> takeRequest(Connection& connection) {
        auto& buffer = connection.buffer;
        const auto headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return std::nullopt;
        const auto lines = buffer.left(headerEnd).split('\n');
        RecordedRequest request;
        const auto requestLine = lines.value(0).trimmed().split(' ');
        request.method = requestLine.value(0);
        request.path = requestLine.value(1);
        qsizetype contentLength = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const auto line = lines[i].trimmed();
            const auto colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const auto name = line.left(colon).trimmed();
            const auto value = line.mid(colon + 1).trimmed();
            request.headers.append({name, value});
            if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
                contentLength = value.toLongLong();
        }
        const auto bodyStart = headerEnd + 4;
        if (buffer.size() < bodyStart + contentLength)
            return std::nullopt;
        request.body = buffer.mid(bodyStart, contentLength);
        buffer.remove(0, bodyStart + contentLength);
        return request;
    }

    void serve(QTcpSocket* socket) {
        auto found = connections.find(socket);
        if (found == connections.end())
            return;
        found->buffer += socket->readAll();
        if (found->answering)
            return;
        auto request = takeRequest(*found);
        if (!request)
            return;
        found->answering = true;
        requests.append(*request);
        emit owner->requestReceived(*request);
        const auto reply = replyFor(*request);
        QPointer<QTcpSocket> guard(socket);
        auto answer = [this, guard, reply] {
            if (guard)
                send(guard, reply);
        };
        if (reply.delay.count() > 0)
            QTimer::singleShot(reply.delay, owner, answer);
        else
            answer();
    }

    void send(QTcpSocket* socket, const ScriptedReply& reply) {
        switch (reply.kind) {
        case ScriptedReply::Kind::Reset:
            connections.remove(socket);
            resetHard(socket);
            socket->deleteLater();
            return;
        case ScriptedReply::Kind::Garbage:
            connections.remove(socket);
            socket->write(reply.body);
            socket->disconnectFromHost();
            return;
        case ScriptedReply::Kind::Http:
            break;
        }
        QByteArray bytes = "HTTP/1.1 " + QByteArray::number(reply.status) + " Status\r\n";
        for (const auto& [name, value] : reply.headers)
            bytes += name + ": " + value + "\r\n";
        if (!bodyless(reply.status))
            bytes += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
        bytes += "Connection: keep-alive\r\n\r\n";
        if (!bodyless(reply.status))
            bytes += reply.body;
        socket->write(bytes);
        auto found = connections.find(socket);
        if (found == connections.end())
            return;
        found->answering = false;
        if (!found->buffer.isEmpty()) // a request that arrived while this one was answered
            QTimer::singleShot(0, socket, [this, socket] { serve(socket); });
    }
};

TestService::TestService(QObject* parent) : QObject(parent), d(std::make_unique<Private>()) {
    d->owner = this;
    connect(&d->server, &QTcpServer::newConnection, this, [this] { d->accept(); });
    if (!d->server.listen(QHostAddress::LocalHost, 0))
        qFatal("test service cannot listen: %s", qPrintable(d->server.errorString()));
}

TestService::~TestService() {
    d->server.close();
    // Sockets are children of this object; drop our bookkeeping before they go.
    d->connections.clear();
    for (auto* socket : findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly)) {
        socket->disconnect(this);
        socket->abort();
    }
}

QString TestService::origin() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

quint16 TestService::port() const {
    return d->server.serverPort();
}

void TestService::on(const QByteArray& method, const QByteArray& path, const ScriptedReply& reply) {
    d->standing.insert(Private::routeKey(method, path), reply);
}

void TestService::enqueue(const QByteArray& method, const QByteArray& path, const ScriptedReply& reply) {
    d->queued[Private::routeKey(method, path)].append(reply);
}

QList<RecordedRequest> TestService::requests() const {
    return d->requests;
}

QList<RecordedRequest> TestService::requests(const QByteArray& method, const QByteArray& path) const {
    QList<RecordedRequest> matching;
    const auto route = Private::routeKey(method, path);
    for (const auto& request : d->requests)
        if (Private::routeMatches(route, request))
            matching.append(request);
    return matching;
}

void TestService::clearRequests() {
    d->requests.clear();
}
