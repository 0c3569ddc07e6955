#include "device/Store.h"
#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "platform/MainTask.h"
#include "platform/TunnelManager.h"
#include "tunnel/ExitText.h"
#include "tunnel/OneShot.h"
#include "tunnel/Run.h"
#include "tunnel/StatusMap.h"
#include "tunnel/Texts.h"
#include "tunnel/TimedGet.h"
#include "tunnel/TunnelNote.h"
#include "tunnel/Vpn.h"

#include <QNetworkRequest>
#include <QPointer>

using namespace std::chrono_literals;

Vpn::Status Vpn::platformStatus() const {
    const TunnelConnection* connection = m_manager ? m_manager->connection() : nullptr;
    return connection ? vpnStatusFor(connection->status()) : Status::Off;
}

void Vpn::syncStatus() {
    TunnelConnection* connection = m_manager ? m_manager->connection() : nullptr;
    setBlocked(connection && connection->blocked(),
               connection ? connection->blockedReason().value_or(QString()) : QString());
    // The administrator prompt: shown while it waits, gone once it is answered either way.
    if (connection && connection->awaitingApproval() != m_promptShown) {
        m_promptShown = connection->awaitingApproval();
        setNeedsApproval(m_promptShown);
    }
    // A run of ours says itself when the tunnel is on: once traffic passed.
    if (runUnderway()) {
        setStatus(Status::Connecting);
        return;
    }
    // Another process of the app is connecting: show what it is doing.
    const TunnelNote note = TunnelNote::fromJson(m_tunnels.sharedNote());
    if (note.runsElsewhere(m_runner)) {
        setProfileName(note.server);
        setRecovering(note.recovering);
        setStatus(Status::Connecting);
        return;
    }
    setRecovering(false);
    if (!connection) {
        stopWatching();
        setStatus(Status::Off);
        return;
    }
    switch (vpnStatusFor(connection->status())) {
    case Status::Connecting:
        // Up a moment ago (the system-wide engine died, say): the watch looks into it.
        if (m_status == Status::On)
            recheck();
        setStatus(Status::Connecting);
        return;
    case Status::On:
        if (!note.proves(connection->connectedDate())) {
            setStatus(Status::Connecting);
            adoptUnproven();
            return;
        }
        setNeedsApproval(false);
        if (!note.server.isEmpty())
            setProfileName(note.server);
        if (m_status != Status::On) {
            setSince(note.since);
            startMainTask(lookupExit(++m_lookup));
            setStatus(Status::On);
            startWatch();
        }
        return;
    case Status::Off:
        stopWatching();
        setStatus(Status::Off);
        setSince(std::nullopt);
        setExit(std::nullopt);
        ++m_lookup; // a lookup still under way must not show an address for a tunnel that is gone
        return;
    }
}

void Vpn::adoptUnproven() {
    if (m_adopting)
        return;
    m_adopting = true;
    startMainTask(proveAdopted(Run(this, m_run)));
}

QCoro::Task<> Vpn::proveAdopted(Run run) {
    QPointer<Vpn> self(this);
    bool passed = false;
    try {
        passed = co_await probeTraffic(run);
    } catch (const vpn_detail::Superseded&) {
        // A connect or a disconnect of ours took over the tunnel.
    }
    if (!self)
        co_return;
    m_adopting = false;
    TunnelConnection* connection = m_manager ? m_manager->connection() : nullptr;
    const TunnelNote note = TunnelNote::fromJson(m_tunnels.sharedNote());
    const bool stillUnproven = run.current() && connection && !runUnderway() &&
                               !note.runsElsewhere(m_runner) && platformStatus() == Status::On &&
                               !note.proves(connection->connectedDate());
    if (stillUnproven && passed) {
        const auto& saved = m_manager->protocolConfiguration;
        const QString server =
            saved ? saved->serverAddress : m_store.d().string(QStringLiteral("lastGood")).value_or(QString());
        m_tunnels.setSharedNote(TunnelNote::proof(server, connection->connectedDate(),
                                                  connection->connectedDate().value_or(m_clock.now()))
                                    .toJson());
    } else if (stillUnproven) {
        // Nothing keeps running that is not shown as on.
        stopTunnel();
        setError(tunnel_texts::serverPassedNoTraffic);
    }
    syncStatus();
}

void Vpn::onStatusNotification() {
    // A tunnel another process of the app saved and started: read its configuration first.
    if (!m_manager)
        startMainTask(load());
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
