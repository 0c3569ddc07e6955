#include "tunnel/TimedGet.h"

#include "platform/Clock.h"
#include "platform/MainTask.h"

#include <QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <memory>

namespace {

QCoro::Task<> abortAfter(QPointer<QNetworkReply> reply, Clock* clock, std::chrono::milliseconds timeout) {
    co_await clock->sleep(timeout);
    if (reply && reply->isRunning())
        reply->abort();
}

// Errors that Qt derives from the HTTP status: the reply itself arrived.
bool isHttpStatusError(QNetworkReply::NetworkError error) {
    return (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError) ||
           (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
}

struct LaterDeleter {
    void operator()(QNetworkReply* reply) const { reply->deleteLater(); }
};

} // namespace

QCoro::Task<HttpResult> timedGet(QNetworkAccessManager* network, QNetworkRequest request, Clock* clock,
                                 std::chrono::milliseconds timeout) {
    const std::unique_ptr<QNetworkReply, LaterDeleter> reply(network->get(request));
    startMainTask(abortAfter(reply.get(), clock, timeout));
    co_await reply.get();

    HttpResult result;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (reply->error() == QNetworkReply::NoError || isHttpStatusError(reply->error()))) {
        result.status = status.toInt();
        result.body = reply->readAll();
    }
    co_return result;
}
