#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <chrono>
#include <memory>

// One request as the test service received it.
struct RecordedRequest {
    QByteArray method;
    QByteArray path; // with the query, exactly as sent
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    bool hasHeader(const QByteArray& name) const; // case-insensitive
    QByteArray header(const QByteArray& name) const;
    QJsonValue json() const; // the body parsed as a JSON object or list (undefined when not JSON)
};

// What the test service answers to one request.
struct ScriptedReply {
    enum class Kind { Http, Reset, Garbage };
    Kind kind = Kind::Http;
    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    std::chrono::milliseconds delay{0}; // real time before answering

    static ScriptedReply json(int status, const QJsonValue& body); // an object or a list
    static ScriptedReply text(int status, const QByteArray& body,
                              const QByteArray& contentType = "text/plain");
    static ScriptedReply empty(int status);
    // Closes the connection without a reply (a hard reset). Qt resends a request once when its
    // connection drops before any reply, so a single queued reset is usually retried: use a
    // standing one (on()) or queue two to make the call fail.
    static ScriptedReply reset();
    static ScriptedReply garbage(const QByteArray& bytes); // writes bytes that are not HTTP, then closes
};

// An HTTP/1.1 server on 127.0.0.1 (random port) in the test's own thread, keeping every connection
// open. Records every request and answers from a script: queued replies for a route are used once
// each, in order; after them the route's standing reply; with neither, 404 with an empty body.
class TestService : public QObject {
    Q_OBJECT
public:
    explicit TestService(QObject* parent = nullptr);
    ~TestService() override;

    QString origin() const; // "http://127.0.0.1:<port>"
    quint16 port() const;

    // A route is "METHOD path": the path is matched with its query when the route's path holds
    // a '?', else without it.
    void on(const QByteArray& method, const QByteArray& path, const ScriptedReply& reply);
    void enqueue(const QByteArray& method, const QByteArray& path, const ScriptedReply& reply);

    QList<RecordedRequest> requests() const;
    QList<RecordedRequest> requests(const QByteArray& method, const QByteArray& path) const;
    void clearRequests();

signals:
    void requestReceived(const RecordedRequest& request);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
