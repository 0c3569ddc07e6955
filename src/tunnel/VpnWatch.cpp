// The watch over a tunnel that is on: proved again when there is reason to doubt it, replaced
// when two proofs in a row fail.
#include "device/Store.h"
#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "platform/MainTask.h"
#include "platform/TunnelManager.h"
#include "tunnel/OneShot.h"
#include "tunnel/Run.h"
#include "tunnel/SmartOrder.h"
#include "tunnel/TunnelNote.h"
#include "tunnel/Vpn.h"

#include <algorithm>

using namespace std::chrono_literals;
using vpn_detail::Doubt;
using vpn_detail::OneShot;

namespace {

// With nothing to doubt, one proof every few minutes: the service's "/api/v1/ip" sees little of us.
constexpr auto backstop = 4min;
// One failed proof may be a passing hiccup; a second one shortly after decides.
constexpr auto recheckPause = 2s;
// After a passed proof the engine's reports of failed connections are not heard for a while: a
// site that refuses the server must not turn into a proof every few seconds.
constexpr auto troubleQuiet = 1min;

std::shared_ptr<OneShot> wakeOf(const std::shared_ptr<Doubt>& doubt) {
    return std::shared_ptr<OneShot>(doubt, &doubt->wake);
}

QCoro::Task<> wakeAfter(Clock* clock, std::chrono::milliseconds pause, std::shared_ptr<Doubt> doubt) {
    co_await clock->sleep(pause);
    doubt->wake.complete();
}

} // namespace

void Vpn::startWatch() {
    if (m_watching)
        return;
    m_watching = true;
    startMainTask(watch(Run(this, m_run), ++m_watch));
}

void Vpn::stopWatching() {
    if (!m_watching)
        return;
    m_watching = false;
    ++m_watch;
    if (auto doubt = std::exchange(m_doubt, {}))
        vpn_detail::completeLater(wakeOf(doubt));
}

void Vpn::recheck(std::chrono::milliseconds settle) {
    // Without a waiting watch there is nothing to wake: off, or a proof is under way already.
    if (auto doubt = std::exchange(m_doubt, {})) {
        doubt->settle = settle;
        vpn_detail::completeLater(wakeOf(doubt));
    }
}

void Vpn::onTrafficTrouble() {
    // A proof under way has its answer: the engine cannot reach the server.
    abortProbe();
    if (m_status == Status::On && !(m_troubleQuietUntil.isValid() && m_clock.now() < m_troubleQuietUntil))
        recheck();
}

QCoro::Task<> Vpn::watch(Run run, quint64 generation) {
    Clock* clock = &m_clock;
    // The controller may be gone after any suspension: the run says so before anything else is read.
    const auto current = [&] {
        return run.current() && m_watch == generation;
    };
    int failures = 0;
    try {
        for (;;) {
            std::chrono::milliseconds settle = recheckPause;
            if (failures == 0) {
                const auto doubt = std::make_shared<Doubt>();
                m_doubt = doubt;
                startMainTask(wakeAfter(clock, backstop, doubt));
                co_await doubt->wake;
                if (!current())
                    co_return;
                if (m_doubt == doubt)
                    m_doubt.reset(); // the backstop woke us
                settle = doubt->settle;
            }
            co_await clock->sleep(settle);
            if (!current())
                co_return;
            const bool passed = co_await probeTraffic(run, carrierProfile());
            if (!current())
                co_return;
            if (passed) {
                failures = 0;
                m_troubleQuietUntil = clock->now().addMSecs(std::chrono::milliseconds(troubleQuiet).count());
            } else if (++failures == 2) {
                failures = 0;
                if (!co_await recover(run) || !current())
                    co_return;
            }
        }
    } catch (const vpn_detail::Superseded&) {
        // A connect or a disconnect took over.
    }
}

std::optional<ServerProfile> Vpn::carrierProfile() const {
    for (const ServerProfile& profile : m_profiles)
        if (profile.name == m_profileName)
            return profile;
    return std::nullopt;
}

// The connect flow once more over the server ordering, the server that died tried last.
QCoro::Task<bool> Vpn::recover(Run run) {
    // Another process of the app is at it already: its note tells how it ends.
    if (TunnelNote::fromJson(m_tunnels.sharedNote()).runsElsewhere(m_runner))
        co_return true;
    const QString dead = m_profileName.value_or(QString());
    std::optional<ServerProfile> base = m_chosen;
    for (const ServerProfile& profile : std::as_const(m_profiles))
        if (!base && profile.name == dead)
            base = profile;
    QList<ServerProfile> candidates;
    if (base) {
        candidates = smartOrder(*base, m_profiles, m_store.d().string(QStringLiteral("lastGood")));
        std::stable_partition(candidates.begin(), candidates.end(),
                              [&](const ServerProfile& server) { return server.name != dead; });
    } else {
        stopTunnel(); // nothing known to start again: the dead tunnel at least does not stay
    }
    setError(std::nullopt);
    co_return co_await tryServers(candidates, run, true);
}
