#include "service/Transport.h"

#include "device/Keychain.h"
#include "device/Store.h"
#include "service/Errors.h"

#include <QCoroNetworkReply>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>
#include <memory>

namespace {

constexpr int kTimeoutMs = 30'000;

// Header values come from the machine and the service; a line break in one must not be able to
// add headers of its own.
QByteArray headerValue(const QString& text) {
    QByteArray bytes = text.toUtf8();
    for (auto& byte : bytes)
        if (uchar(byte) < 0x20 || uchar(byte) == 0x7f)
            byte = ' ';
    return bytes;
}

// Failures of the connection itself. Qt reports them even after a status line arrived (a reply
// cut short, a time-out mid-body); such a reply is not judged by its status.
bool connectionFailed(QNetworkReply::NetworkError error) {
    return (error > QNetworkReply::NoError && error <= QNetworkReply::UnknownNetworkError) ||
           error == QNetworkReply::ProtocolFailure;
}

// Owns a reply without outliving its network object: when that goes first, it takes the reply.
class OwnedReply {
public:
    explicit OwnedReply(QNetworkReply* reply) : m_reply(reply) {}
    OwnedReply(const OwnedReply&) = delete;
    OwnedReply& operator=(const OwnedReply&) = delete;
    ~OwnedReply() {
        if (m_reply)
            m_reply->deleteLater();
    }
    QNetworkReply* get() const { return m_reply.data(); }

private:
    QPointer<QNetworkReply> m_reply;
};

} // namespace

QNetworkRequest Transport::build(const Call& call) const {
    const QUrl url(origin + call.path);
    if (!url.isValid())
        throw TransportError(QNetworkReply::ProtocolUnknownError,
                             QStringLiteral("Invalid URL: ") + url.errorString());
    QNetworkRequest request(url);
    request.setTransferTimeout(kTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    request.setRawHeader("User-Agent", headerValue(QStringLiteral("VemkoVPN/") + store->appVersion() +
                                                   QLatin1Char(' ') + store->osWord()));
    request.setRawHeader("X-Hwid", headerValue(store->hwid()));
    request.setRawHeader("X-Device-Os", headerValue(store->osWord()));
    request.setRawHeader("X-Ver-Os", headerValue(store->osVersionText()));
    request.setRawHeader("X-Device-Model", headerValue(store->deviceModel()));
    if (call.token) {
        if (const auto token = keychain->read(QStringLiteral("token")))
            request.setRawHeader("Authorization", "Bearer " + headerValue(*token));
    }
    if (call.body)
        request.setRawHeader("Content-Type", "application/json; charset=utf-8");
    else if (call.verb == "POST") // some front ends refuse a POST without a length
        request.setHeader(QNetworkRequest::ContentLengthHeader, 0);
    return request;
}

QCoro::Task<HttpReply> exchange(Transport transport, Call call) {
    const auto request = transport.build(call);
    auto* network = transport.network;
    const OwnedReply owned(
        call.body ? network->post(request, QJsonDocument(*call.body).toJson(QJsonDocument::Compact))
        : call.verb == "GET" ? network->get(request)
                             : network->sendCustomRequest(request, call.verb));
    // Why the transport gave up on the reply itself; shared, as the reply may outlive this frame.
    const auto gaveUp = std::make_shared<std::optional<TransportError>>();
    if (auto* reply = owned.get()) {
        const qint64 limit = call.replyLimit;
        QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, limit, gaveUp] {
            if (reply->bytesAvailable() > limit && !*gaveUp) {
                *gaveUp = TransportError(QNetworkReply::ProtocolFailure,
                                         QStringLiteral("The reply is larger than %1 bytes").arg(limit));
                reply->abort();
            }
        });
        QTimer::singleShot(transport.deadline, reply, [reply, gaveUp] {
            if (!*gaveUp && reply->isRunning()) {
                *gaveUp =
                    TransportError(QNetworkReply::TimeoutError, QStringLiteral("The reply took too long"));
                reply->abort();
            }
        });
    }
    co_await owned.get();
    auto* reply = owned.get();
    if (!reply)
        throw TransportError(QNetworkReply::OperationCanceledError, QStringLiteral("The network went away"));
    if (*gaveUp)
        throw **gaveUp;

    const auto status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (connectionFailed(reply->error()) || (!status.isValid() && reply->error() != QNetworkReply::NoError))
        throw TransportError(reply->error(), reply->errorString());
    // A reply without a status but without an error is not an HTTP reply: status 0.
    co_return HttpReply{status.toInt(), reply->readAll()};
}

QByteArray judged(const HttpReply& reply) {
    if (reply.status >= 200 && reply.status <= 299)
        return reply.body;
    const auto document = QJsonDocument::fromJson(reply.body);
    const auto object = document.object(); // empty unless the body is a JSON object
    const auto error = object.value(QLatin1String("error"));
    const auto code = object.value(QLatin1String("code"));
    throw ApiError(reply.status,
                   error.isString() ? error.toString() : QStringLiteral("Ошибка сети (%1)").arg(reply.status),
                   code.isString() ? code.toString() : QString());
}

QCoro::Task<QByteArray> send(Transport transport, Call call) {
    co_return judged(co_await exchange(std::move(transport), std::move(call)));
}
