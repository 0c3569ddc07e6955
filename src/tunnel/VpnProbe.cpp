#include "device/Store.h"
#include "platform/Clock.h"
#include "platform/MainTask.h"
#include "platform/TunnelMode.h"
#include "tunnel/Run.h"
#include "tunnel/ServerCheck.h"
#include "tunnel/TimedGet.h"
#include "tunnel/TrafficProbe.h"
#include "tunnel/Vpn.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QStringDecoder>

using namespace std::chrono_literals;

namespace {
struct LaterDeleter {
    void operator()(QObject* object) const { object->deleteLater(); }
};
} // namespace

bool probePassed(const HttpResult& reply) {
    if (reply.status != 200)
        return false;
    auto decoder = QStringDecoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(reply.body);
    return !decoder.hasError() && text.contains(QStringLiteral("\"exit\":\""));
}

QCoro::Task<bool> Vpn::probeTraffic(Run run, std::optional<ServerProfile> server) {
    // A network object of its own, used once: nothing of an earlier tunnel's connections or
    // cookies can answer for this one. It goes from the event loop: the probe may end inside the
    // time-out's abort of its last reply, which must not lose that reply under its feet.
    const std::unique_ptr<QNetworkAccessManager, LaterDeleter> network(new QNetworkAccessManager);
    network->setProxy(m_tunnelProxy);
    m_probing = network.get(); // the engine's report that it cannot reach the server ends it early
    m_serverRefused = false;
    const quint64 probe = ++m_probe;
    // In the system-wide mode the kill switch would answer for any server: no look there.
    if (server && m_store.tunnelMode() != TunnelMode::System)
        startMainTask(watchServerAnswer(*server, probe));
    QString origin = m_apiOrigin;
    while (origin.endsWith(QLatin1Char('/')))
        origin.chop(1);
    const QNetworkRequest request{QUrl(origin + QStringLiteral("/api/v1/ip"))};
    Clock* clock = &m_clock;

    constexpr int attempts = 2;
    constexpr auto timeout = 7s;
    for (int attempt = 1; attempt <= attempts && !m_serverRefused; ++attempt) {
        const QDateTime sent = clock->now();
        const HttpResult reply = co_await timedGet(network.get(), request, clock, timeout);
        run.check();
        if (probePassed(reply))
            co_return true;
        // No answer at all, and well before the time-out: the engine gave up on its server
        // (refused, no route; Qt may have asked it a few times meanwhile). Asking again would
        // only wait for the same answer.
        if (!reply.status && sent.msecsTo(clock->now()) < std::chrono::milliseconds(timeout).count())
            co_return false;
        co_await clock->sleep(1200ms);
        run.check();
    }
    co_return false;
}

QCoro::Task<> Vpn::watchServerAnswer(ServerProfile server, quint64 probe) {
    const auto endpoint = serverEndpoint(server.config);
    if (!endpoint)
        co_return;
    QPointer<Vpn> self(this);
    const bool refused = co_await refusesConnections(*endpoint, &m_clock, 7s);
    if (!self || !refused || m_probe != probe)
        co_return;
    m_serverRefused = true;
    abortProbe();
}

void Vpn::abortProbe() {
    if (m_probing)
        for (QNetworkReply* reply : m_probing->findChildren<QNetworkReply*>())
            reply->abort();
}
