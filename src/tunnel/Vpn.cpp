#include "tunnel/Vpn.h"

#include "device/Store.h"
#include "platform/Clock.h"
#include "platform/MainTask.h"
#include "platform/TunnelManager.h"
#include "platform/TunnelMode.h"
#include "tunnel/OneShot.h"
#include "tunnel/TunnelConfig.h"

#include <QNetworkAccessManager>
#include <QPointer>
#include <QUuid>
#include <algorithm>

namespace {

template <typename T, typename Signal> void assign(Vpn* vpn, T& field, T value, Signal changed) {
    if (field == value)
        return;
    field = std::move(value);
    Q_EMIT(vpn->*changed)();
}

} // namespace

QString Vpn::defaultIpinfoUrl() {
    const QString configured = qEnvironmentVariable("VEMKO_IPINFO_URL");
    return configured.isEmpty() ? QStringLiteral("https://ipinfo.io/json") : configured;
}

QNetworkProxy Vpn::tunnelSocksProxy() {
    return QNetworkProxy(QNetworkProxy::Socks5Proxy, QStringLiteral("127.0.0.1"), 10808);
}

Vpn::Vpn(TunnelSystem& tunnels, ExtensionManager& extensions, Store& store, Clock& clock, Desktop& desktop,
         QNetworkAccessManager& lookupNetwork, QString apiOrigin, QString ipinfoUrl, QObject* parent,
         const QNetworkProxy& tunnelProxy)
    : QObject(parent), m_tunnels(tunnels), m_extensions(extensions), m_store(store), m_clock(clock),
      m_desktop(desktop), m_lookupNetwork(lookupNetwork), m_apiOrigin(std::move(apiOrigin)),
      m_ipinfoUrl(std::move(ipinfoUrl)), m_tunnelProxy(tunnelProxy),
      m_runner(QUuid::createUuid().toString(QUuid::WithoutBraces)) {
    // The tunnel is a SOCKS entry, not a system route: only through it does the lookup see the
    // tunnel's exit address rather than this machine's own.
    m_lookupNetwork.setProxy(m_tunnelProxy);
    // The notification may come from any thread; the sync always runs here, on ours.
    QObject::connect(&m_tunnels, &TunnelSystem::statusChanged, this, &Vpn::onStatusNotification,
                     Qt::QueuedConnection);
    QObject::connect(&m_tunnels, &TunnelSystem::trafficTrouble, this, &Vpn::onTrafficTrouble,
                     Qt::QueuedConnection);
    startMainTask(load());
}

Vpn::~Vpn() {
    // A run waiting for the extension must not wait for ever; it wakes after we are gone and ends.
    if (m_extensionRequestDone)
        vpn_detail::completeLater(std::move(m_extensionRequestDone),
                                  std::make_exception_ptr(vpn_detail::Superseded{}));
    stopWatching();
}

QString Vpn::tunnelBundleId() const {
    return QStringLiteral("app.vemko.vpn.tunnel");
}

bool Vpn::previewOnly() const {
    return m_store.preview();
}

void Vpn::setProfiles(const QList<ServerProfile>& profiles) {
    if (std::equal(m_profiles.cbegin(), m_profiles.cend(), profiles.cbegin(), profiles.cend(), sameServer))
        return;
    m_profiles = profiles;
    m_unusable.clear();
    if (const auto& engine = m_tunnels.engine().engine) {
        for (const ServerProfile& profile : m_profiles)
            if (const auto why = ::unusableReason(profile, *engine))
                m_unusable.insert(profile.name, *why);
    }
    emit profilesChanged();
}

std::optional<QString> Vpn::unusableReason(const QString& name) const {
    const auto found = m_unusable.constFind(name);
    return found == m_unusable.cend() ? std::nullopt : std::optional<QString>(*found);
}

QString Vpn::engineName() const {
    const auto& engine = m_tunnels.engine().engine;
    return engine ? QString::fromStdString(engine->name()) : QString();
}

QString Vpn::engineProblem() const {
    return QString::fromStdString(m_tunnels.engine().problem);
}
void Vpn::setStatus(Status status) {
    assign(this, m_status, status, &Vpn::statusChanged);
}
void Vpn::setProfileName(std::optional<QString> name) {
    assign(this, m_profileName, std::move(name), &Vpn::profileNameChanged);
}
void Vpn::setError(std::optional<QString> error) {
    assign(this, m_error, std::move(error), &Vpn::errorChanged);
}
void Vpn::setSince(std::optional<QDateTime> since) {
    assign(this, m_since, std::move(since), &Vpn::sinceChanged);
}
void Vpn::setExit(std::optional<QString> exit) {
    assign(this, m_exit, std::move(exit), &Vpn::exitChanged);
}
void Vpn::setNeedsApproval(bool needsApproval) {
    assign(this, m_needsApproval, needsApproval, &Vpn::needsApprovalChanged);
}
void Vpn::setBlocked(bool blocked, const QString& reason) {
    if (m_blockedReason != reason) {
        m_blockedReason = reason;
        if (m_blocked == blocked)
            emit blockedChanged();
    }
    assign(this, m_blocked, blocked, &Vpn::blockedChanged);
}
void Vpn::setRecovering(bool recovering) {
    assign(this, m_recovering, recovering, &Vpn::recoveringChanged);
}

QString Vpn::tunnelMode() const {
    return tunnel_mode::name(m_store.tunnelMode());
}
bool Vpn::setTunnelMode(const QString& mode) {
    const auto parsed = tunnel_mode::parse(mode);
    if (!parsed || *parsed == m_store.tunnelMode())
        return true;
    if (!m_store.setTunnelMode(*parsed))
        return false;
    emit tunnelModeChanged();
    return true;
}

QCoro::Task<> Vpn::load() {
    QPointer<Vpn> self(this);
    const std::shared_ptr<TunnelManager> before = m_manager;
    std::shared_ptr<TunnelManager> first;
    try {
        const auto saved = co_await m_tunnels.loadAll();
        if (!saved.empty())
            first = saved.front();
    } catch (...) {
        // No saved configuration to use: the tunnel reads as off.
    }
    if (!self)
        co_return;
    // A connect that installed its configuration meanwhile knows better than this older read.
    if (m_manager == before)
        m_manager = std::move(first);
    syncStatus();
}
