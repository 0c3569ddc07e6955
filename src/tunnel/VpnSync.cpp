#include "platform/Clock.h"
#include "platform/MainTask.h"
#include "platform/TunnelManager.h"
#include "tunnel/ExitText.h"
#include "tunnel/OneShot.h"
#include "tunnel/StatusMap.h"
#include "tunnel/TimedGet.h"
#include "tunnel/Vpn.h"

#include <QNetworkRequest>
#include <QPointer>

using namespace std::chrono_literals;

void Vpn::syncStatus() {
    TunnelConnection* connection = m_manager ? m_manager->connection() : nullptr;
    if (!connection) {
        setStatus(Status::Off);
        setBlocked(false);
        return;
    }
    setBlocked(connection->blocked(), connection->blockedReason().value_or(QString()));
    // The administrator prompt: shown while it waits, gone once it is answered either way.
    if (connection->awaitingApproval() != m_promptShown) {
        m_promptShown = connection->awaitingApproval();
        setNeedsApproval(m_promptShown);
    }
    switch (vpnStatusFor(connection->status())) {
    case Status::Connecting:
        setStatus(Status::Connecting);
        return;
    case Status::On:
        setNeedsApproval(false);
        if (m_status != Status::On) {
            setSince(connection->connectedDate().value_or(m_clock.now()));
            startMainTask(lookupExit(++m_lookup));
            setStatus(Status::On);
        }
        return;
    case Status::Off:
        setStatus(Status::Off);
        setSince(std::nullopt);
        setExit(std::nullopt);
        ++m_lookup; // a lookup still under way must not show an address for a tunnel that is gone
        return;
    }
}

void Vpn::onStatusNotification() {
    syncStatus();
    // Connect's waits notice the new state now rather than at their next poll.
    for (const auto& waiter : std::exchange(m_statusWaiters, {}))
        waiter->complete();
}

QCoro::Task<> Vpn::lookupExit(quint64 lookup) {
    QPointer<Vpn> self(this);
    const auto current = [&] {
        return self && self->m_lookup == lookup;
    };
    setExit(std::nullopt);
    QNetworkRequest request{QUrl(m_ipinfoUrl)};
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    Clock* clock = &m_clock;
    QNetworkAccessManager* network = &m_lookupNetwork;

    constexpr int attempts = 3;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        const HttpResult reply = co_await timedGet(network, request, clock, 12s);
        if (!current())
            co_return;
        // The status is not judged: any JSON object with the address is good enough.
        if (const auto text = reply.status ? exitText(reply.body) : std::nullopt) {
            setExit(*text);
            co_return;
        }
        if (attempt < attempts) {
            co_await clock->sleep(2s);
            if (!current())
                co_return;
        }
    }
}
