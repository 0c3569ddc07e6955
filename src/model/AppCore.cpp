#include "model/AppCore.h"

#include "platform/Clock.h"
#include "platform/ProcessFiles.h"

#include <QRegularExpression>

namespace {

// VEMKO_PROFILE=demo keeps a demo's token apart from the real one: service "app.vemko.vpn.demo".
QString secretService() {
    static const QRegularExpression word(QStringLiteral("^[a-z0-9-]{1,32}$"));
    const QString profile = qEnvironmentVariable("VEMKO_PROFILE");
    return word.match(profile).hasMatch() ? QStringLiteral("app.vemko.vpn.") + profile
                                          : QStringLiteral("app.vemko.vpn");
}

} // namespace

AppCore::AppCore()
    : m_secrets(secretService()), m_store(m_defaults, m_facts), m_keychain(m_secrets),
      m_api(m_network, m_store, m_keychain),
      m_vpn(m_tunnels, m_extensions, m_store, Clock::system(), m_desktop, m_tunnelNetwork, m_api.origin()),
      m_updater(m_api, m_store, m_desktop, m_network),
      m_model(m_api, m_store, m_keychain, m_vpn, Clock::system()) {
    ProcessFiles::ignoreFileSizeSignal();
}
