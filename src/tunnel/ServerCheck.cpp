#include "tunnel/ServerCheck.h"

#include "engine/Server.h"
#include "platform/Clock.h"
#include "platform/MainTask.h"
#include "tunnel/OneShot.h"

#include <QJsonDocument>
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
    // Through the allow-list, as the engine will get it: the outbound that carries the traffic.
    const std::string text = QJsonDocument(config).toJson(QJsonDocument::Compact).toStdString();
    const auto read = engine::readServer(std::string_view(text));
    const auto* server = std::get_if<engine::Server>(&read);
    if (!server)
        return std::nullopt;
    const engine::Json& settings = server->proxy().settings;
    for (const char* key : {"vnext", "servers"}) {
        const auto list = settings.is_object() ? settings.find(key) : settings.end();
        if (list == settings.end() || !list->is_array() || list->empty() || !(*list)[0].is_object())
            continue;
        const engine::Json& first = (*list)[0];
        const auto address = first.find("address");
        const auto port = first.find("port");
        if (address != first.end() && address->is_string() && port != first.end() &&
            port->is_number_integer() && *port > 0 && *port <= 65535)
            return ServerEndpoint{QString::fromStdString(address->get<std::string>()),
                                  static_cast<quint16>(port->get<std::int64_t>())};
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
