#include "model/AppCore.h"

#include "platform/Clock.h"
#include "platform/ProcessFiles.h"

#include <QNetworkProxy>
#include <algorithm>

namespace {

// VEMKO_PROFILE=demo keeps a demo's token apart from the real one: service "app.vemko.vpn.demo".
QString secretService() {
    const QString profile = qEnvironmentVariable("VEMKO_PROFILE");
    const bool word = !profile.isEmpty() && profile.size() <= 32 &&
                      std::all_of(profile.begin(), profile.end(), [](QChar c) {
                          return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-';
                      });
    return word ? QStringLiteral("app.vemko.vpn.") + profile : QStringLiteral("app.vemko.vpn");
}

// The tunnel service reads the mode the user chose before the tunnel controller first loads.
LinuxTunnelSystem& followingMode(LinuxTunnelSystem& tunnels, Store& store) {
    tunnels.setModeSource([&store] { return store.tunnelMode(); });
    return tunnels;
}

// A network that just came back, and even more a machine that just woke, needs a moment before
// a proof of the tunnel can tell anything.
constexpr std::chrono::seconds networkSettles{2};
constexpr std::chrono::seconds wakeSettles{5};

// The service and update downloads go straight out: with the desktop's proxy pointed at the
// tunnel, a dead tunnel must not take the app's own requests with it.
QNetworkAccessManager& direct(QNetworkAccessManager& network) {
    network.setProxy(QNetworkProxy::NoProxy);
    return network;
}

} // namespace

AppCore::AppCore()
    : m_secrets(secretService()), m_store(m_defaults, m_facts), m_keychain(m_secrets),
      m_api(direct(m_network), m_store, m_keychain),
      m_vpn(followingMode(m_tunnels, m_store), m_extensions, m_store, Clock::system(), m_desktop,
            m_tunnelNetwork, m_api.origin()),
      m_updater(m_api, m_store, m_desktop, m_network, Clock::system()),
      m_model(m_api, m_store, m_keychain, m_vpn, Clock::system()) {
    ProcessFiles::ignoreFileSizeSignal();
    QObject::connect(&m_systemEvents, &SystemEvents::networkChanged, &m_vpn,
                     [this] { m_vpn.recheck(networkSettles); });
    QObject::connect(&m_systemEvents, &SystemEvents::woke, &m_vpn, [this] { m_vpn.recheck(wakeSettles); });
    QObject::connect(&m_settingsWatch, &DefaultsWatcher::changed, &m_model, &AppModel::followSharedSettings);
}
