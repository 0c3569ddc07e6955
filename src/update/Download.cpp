#include "update/Download.h"

#include "platform/PlatformError.h"
#include "service/Errors.h"

#include <QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <memory>

namespace {

struct LaterDelete {
    void operator()(QObject* object) const { object->deleteLater(); }
};

// Aborted when no byte arrives for this long (Qt restarts the timer on every chunk).
constexpr int stallTimeoutMs = 60'000;

} // namespace

QCoro::Task<> downloadToFile(QNetworkAccessManager& network, QUrl url, QString path, qint64 limit) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw PlatformError(path + QStringLiteral(": ") + file.errorString());

    QNetworkRequest request(url);
    request.setTransferTimeout(stallTimeoutMs);
    const std::unique_ptr<QNetworkReply, LaterDelete> reply(network.get(request));
    auto isOk = [&] {
        return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200;
    };

    QString writeError;
    bool tooLarge = false;
    QObject::connect(reply.get(), &QNetworkReply::readyRead, reply.get(), [&] {
        const QByteArray chunk = reply->readAll();
        if (!isOk() || !writeError.isEmpty() || tooLarge)
            return; // a refusal's body is not the archive
        if (file.pos() + chunk.size() > limit) {
            tooLarge = true;
            reply->abort();
        } else if (file.write(chunk) != chunk.size()) {
            writeError = file.errorString();
            reply->abort();
        }
    });
    co_await reply.get();

    if (tooLarge)
        throw Fail(QStringLiteral("архив обновления слишком велик"));
    if (!writeError.isEmpty())
        throw PlatformError(path + QStringLiteral(": ") + writeError);
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (reply->error() != QNetworkReply::NoError && !status.isValid())
        throw TransportError(reply->error(), reply->errorString());
    if (!isOk())
        throw Fail(QStringLiteral("сервер не отдал файл"));
    if (reply->error() != QNetworkReply::NoError) // cut off after a 200 header
        throw TransportError(reply->error(), reply->errorString());
    const QByteArray rest = reply->readAll();
    if (file.pos() + rest.size() > limit)
        throw Fail(QStringLiteral("архив обновления слишком велик"));
    if (file.write(rest) != rest.size() || !file.commit())
        throw PlatformError(path + QStringLiteral(": ") + file.errorString());
}
