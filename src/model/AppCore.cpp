#include "model/AppCore.h"

#include "platform/Clock.h"
#include "platform/ProcessFiles.h"

AppCore::AppCore()
    : m_store(m_defaults, m_facts), m_keychain(m_secrets), m_api(m_network, m_store, m_keychain),
      m_vpn(m_tunnels, m_extensions, m_store, Clock::system(), m_desktop, m_tunnelNetwork, m_api.origin()),
      m_updater(m_api, m_store, m_desktop, m_network),
      m_model(m_api, m_store, m_keychain, m_vpn, Clock::system()) {
    ProcessFiles::ignoreFileSizeSignal();
}
