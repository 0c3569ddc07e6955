#include "tunnel/ServerCheck.h"

#include "platform/Clock.h"
#include "platform/MainTask.h"
#include "tunnel/OneShot.h"

#include <QJsonArray>
#include <QNetworkProxy>
#include <QTcpSocket>

namespace {

QCoro::Task<> wakeAfter(Clock* clock, std::chrono::milliseconds limit,
                        std::shared_ptr<vpn_detail::OneShot> wake) {
    co_await clock->sleep(limit);
    wake->complete();
}

} // namespace

std::optional<ServerEndpoint> serverEndpoint(const QJsonObject& config) {
    for (const QJsonValue outbound : config.value(QLatin1String("outbounds")).toArray()) {
        const QJsonObject settings = outbound.toObject().value(QLatin1String("settings")).toObject();
        for (const char* list : {"vnext", "servers"}) {
            const QJsonObject first = settings.value(QLatin1String(list)).toArray().at(0).toObject();
            const QString host = first.value(QLatin1String("address")).toString();
            const qint64 port = first.value(QLatin1String("port")).toInteger();
            if (!host.isEmpty() && port > 0 && port <= 65535)
                return ServerEndpoint{host, static_cast<quint16>(port)};
        }
    }
    return std::nullopt;
}

QCoro::Task<bool> refusesConnections(ServerEndpoint server, Clock* clock, std::chrono::milliseconds limit) {
    QTcpSocket socket;
    socket.setProxy(QNetworkProxy::NoProxy); // the server itself, not a desktop proxy pointing at us
    auto answered = std::make_shared<vpn_detail::OneShot>();
    // Woken from the event loop: the socket must not go while it is still telling its news.
    QObject::connect(&socket, &QTcpSocket::connected, [answered] { vpn_detail::completeLater(answered); });
    QObject::connect(&socket, &QTcpSocket::errorOccurred,
                     [answered] { vpn_detail::completeLater(answered); });
    startMainTask(wakeAfter(clock, limit, answered));
    socket.connectToHost(server.host, server.port);
    co_await *answered;
    const auto error = socket.error();
    co_return socket.state() != QAbstractSocket::ConnectedState &&
        (error == QAbstractSocket::ConnectionRefusedError || error == QAbstractSocket::NetworkError);
}
