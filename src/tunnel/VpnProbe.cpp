#include "platform/Clock.h"
#include "tunnel/Run.h"
#include "tunnel/TimedGet.h"
#include "tunnel/TrafficProbe.h"
#include "tunnel/Vpn.h"

#include <QNetworkAccessManager>
#include <QStringDecoder>

using namespace std::chrono_literals;

bool probePassed(const HttpResult& reply) {
    if (reply.status != 200)
        return false;
    auto decoder = QStringDecoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(reply.body);
    return !decoder.hasError() && text.contains(QStringLiteral("\"exit\":\""));
}

QCoro::Task<bool> Vpn::probeTraffic(Run run) {
    // A network object of its own, used once: nothing of an earlier tunnel's connections or
    // cookies can answer for this one.
    const auto network = std::make_unique<QNetworkAccessManager>();
    network->setProxy(m_tunnelProxy);
    QString origin = m_apiOrigin;
    while (origin.endsWith(QLatin1Char('/')))
        origin.chop(1);
    const QNetworkRequest request{QUrl(origin + QStringLiteral("/api/v1/ip"))};
    Clock* clock = &m_clock;

    constexpr int attempts = 2;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        const HttpResult reply = co_await timedGet(network.get(), request, clock, 7s);
        run.check();
        if (probePassed(reply))
            co_return true;
        co_await clock->sleep(1200ms);
        run.check();
    }
    co_return false;
}
