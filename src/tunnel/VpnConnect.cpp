#include "device/Store.h"
#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "platform/MainTask.h"
#include "platform/TunnelManager.h"
#include "platform/TunnelMode.h"
#include "service/Errors.h"
#include "tunnel/Friendly.h"
#include "tunnel/Run.h"
#include "tunnel/SmartOrder.h"
#include "tunnel/Texts.h"
#include "tunnel/TunnelConfig.h"
#include "tunnel/TunnelNote.h"
#include "tunnel/Vpn.h"

#include <QPointer>

using namespace std::chrono_literals;
using vpn_detail::OneShot;
using vpn_detail::Superseded;

namespace {

constexpr auto connectWait = 12s;
constexpr auto stopWait = 6s;
constexpr auto pollInterval = 300ms;

QCoro::Task<> wakeAfter(Clock* clock, std::chrono::milliseconds pause, std::shared_ptr<OneShot> wake) {
    co_await clock->sleep(pause);
    wake->complete();
}

} // namespace

QCoro::Task<> Vpn::connect(ServerProfile profile) {
    if (previewOnly()) {
        setError(tunnel_texts::preview);
        co_return;
    }
    // A server this engine cannot run as written is never started, and fail-over passes it by.
    if (const auto why = unusableReason(profile.name)) {
        setError(tunnel_texts::unusable(profile.name, *why));
        co_return;
    }
    supersedeRuns();
    const Run run(this, m_run);
    m_chosen = profile;
    setError(std::nullopt);
    co_await tryServers(smartOrder(profile, m_profiles, m_store.d().string(QStringLiteral("lastGood"))), run,
                        false);
}

QCoro::Task<bool> Vpn::tryServers(QList<ServerProfile> candidates, Run run, bool recovering) {
    candidates.removeIf(
        [this](const ServerProfile& candidate) { return unusableReason(candidate.name).has_value(); });
    m_runUnderway = m_run;
    setRecovering(recovering);
    setStatus(Status::Connecting);
    const bool failOver = candidates.size() > 1;
    // The system-wide tunnel keeps its kill switch up from one candidate to the next: the next
    // start replaces the engine under the same rules, so nothing leaks in between.
    const bool holdsRules = m_store.tunnelMode() == TunnelMode::System;
    try {
        for (qsizetype position = 0; position < candidates.size(); ++position) {
            const ServerProfile& candidate = candidates[position];
            setProfileName(position == 0 && !recovering ? candidate.name
                                                        : tunnel_texts::trying + candidate.name);
            m_tunnels.setSharedNote(TunnelNote::run(m_runner, *m_profileName, recovering).toJson());
            if (co_await tryCandidate(candidate, run)) {
                proven(candidate, recovering);
                co_return true;
            }
            // A failed candidate never keeps running: not between candidates, not after the last.
            if (!holdsRules || position + 1 == candidates.size()) {
                stopTunnel();
                co_await waitForStatus(Status::Off, stopWait, run);
            }
        }
    } catch (const Superseded&) {
        co_return false;
    }
    if (failOver)
        setError(tunnel_texts::noServerPassed);
    else if (!m_error)
        setError(tunnel_texts::serverPassedNoTraffic);
    m_runUnderway = 0;
    m_tunnels.setSharedNote({});
    setRecovering(false);
    stopWatching();
    setStatus(Status::Off);
    setSince(std::nullopt);
    setExit(std::nullopt);
    co_return false;
}

void Vpn::proven(const ServerProfile& candidate, bool recovering) {
    m_runUnderway = 0;
    setProfileName(candidate.name);
    m_store.d().setString(QStringLiteral("lastGood"), candidate.name);
    m_store.d().setBoolean(QStringLiteral("was_connected"), true);
    const TunnelConnection* connection = m_manager ? m_manager->connection() : nullptr;
    m_tunnels.setSharedNote(TunnelNote::proof(candidate.name,
                                              connection ? connection->connectedDate() : std::nullopt,
                                              m_clock.now())
                                .toJson());
    syncStatus();
    if (recovering)
        emit switchedServer(candidate.name);
}

QCoro::Task<bool> Vpn::tryCandidate(ServerProfile candidate, Run run) {
    QPointer<TunnelConnection> connection;
    try {
        co_await installExtensionIfNeeded(run);
        const auto& engine = m_tunnels.engine().engine;
        if (!engine)
            throw Fail(tunnel_texts::noEngine);
        const QString config = makeConfig(candidate, *engine);
        const std::shared_ptr<TunnelManager> manager = co_await prepareManager(config, candidate.name, run);
        connection = manager->connection();
        if (!connection)
            throw Fail(tunnel_texts::noConnection);
        connection->start(QJsonObject{{QStringLiteral("config"), config}});
    } catch (const Superseded&) {
        throw;
    } catch (...) {
        // A step that fails after this run was replaced (or its controller went) reports nothing.
        run.check();
        setError(friendly(std::current_exception()));
        co_return false;
    }
    if (!co_await waitForStatus(Status::On, connectWait, run)) {
        // A tunnel that says why it did not come up (a refused administrator prompt) is heard.
        if (const auto failure = connection ? connection->failure() : std::nullopt)
            setError(*failure);
        co_return false;
    }
    co_return co_await probeTraffic(run, candidate);
}

// Waits for the platform's own word: while connect runs, status itself stays connecting.
QCoro::Task<bool> Vpn::waitForStatus(Status wanted, std::chrono::milliseconds limit, Run run) {
    const QDateTime deadline = m_clock.now().addMSecs(limit.count());
    bool wasUnderWay = false;
    while (m_clock.now() < deadline) {
        syncStatus();
        const Status platform = platformStatus();
        if (platform == wanted)
            co_return true;
        // A tunnel that went down again before connecting (engine refused to start, port taken)
        // will not come up by itself: no point in waiting out the rest.
        if (wanted == Status::On && platform == Status::Off && wasUnderWay)
            co_return false;
        wasUnderWay = wasUnderWay || platform != Status::Off;
        const std::chrono::milliseconds left{m_clock.now().msecsTo(deadline)};
        co_await pollPause(std::min<std::chrono::milliseconds>(pollInterval, left), run);
    }
    co_return false;
}

QCoro::Task<> Vpn::pollPause(std::chrono::milliseconds pause, Run run) {
    auto wake = std::make_shared<OneShot>();
    m_statusWaiters.push_back(wake);
    startMainTask(wakeAfter(&m_clock, pause, wake));
    co_await *wake;
    run.check();
    std::erase(m_statusWaiters, wake);
}

void Vpn::disconnect() {
    // The user's "off" also ends a connect still trying candidates: nothing comes up after it.
    supersedeRuns();
    m_tunnels.setSharedNote({});
    setRecovering(false);
    m_store.d().setBoolean(QStringLiteral("was_connected"), false);
    stopTunnel();
    setStatus(Status::Off);
    setSince(std::nullopt);
    setExit(std::nullopt);
    ++m_lookup;
}

void Vpn::stopTunnel() {
    if (TunnelConnection* connection = m_manager ? m_manager->connection() : nullptr)
        connection->stop();
}

void Vpn::supersedeRuns() {
    ++m_run;
    stopWatching(); // the watch belongs to the run that brought the tunnel up
    if (m_extensionRequestDone)
        vpn_detail::completeLater(std::exchange(m_extensionRequestDone, {}),
                                  std::make_exception_ptr(Superseded{}));
}
