#include "platform/Desktop.h"
#include "platform/PlatformError.h"
#include "platform/TunnelManager.h"
#include "tunnel/Run.h"
#include "tunnel/Texts.h"
#include "tunnel/Vpn.h"

using vpn_detail::OneShot;

QCoro::Task<> Vpn::installExtensionIfNeeded(Run run) {
    // Submitted for every attempt, also when the component is already active: the platform
    // answers quickly then, and an outdated copy gets replaced.
    auto pending = std::make_shared<OneShot>();
    if (auto older = std::exchange(m_extensionRequestDone, pending))
        vpn_detail::completeLater(std::move(older), std::make_exception_ptr(vpn_detail::Superseded{}));
    m_extensions.submitActivation(tunnelBundleId(), *this);
    co_await *pending;
    run.check();
}

Vpn::ReplacementAction Vpn::actionForReplacingExtension(const QString&) {
    return ReplacementAction::Replace;
}

void Vpn::requestNeedsUserApproval(const QString&) {
    setNeedsApproval(true);
    setError(tunnel_texts::approveExtension);
    openExtensionSettings();
}

void Vpn::requestDidFinish(const QString&, Result) {
    setError(std::nullopt);
    if (m_extensionRequestDone)
        vpn_detail::completeLater(std::exchange(m_extensionRequestDone, {}));
}

void Vpn::requestDidFail(const QString&, const QString& error) {
    if (m_extensionRequestDone)
        vpn_detail::completeLater(std::exchange(m_extensionRequestDone, {}),
                                  std::make_exception_ptr(PlatformError(error)));
}

void Vpn::openExtensionSettings() {
    // The system-wide tunnel's administrator prompt: shown afresh.
    if (TunnelConnection* connection = m_manager ? m_manager->connection() : nullptr;
        connection && m_promptShown) {
        connection->askAgain();
        return;
    }
    for (const QUrl& location : m_extensions.settingsLocations())
        if (location.isValid() && m_desktop.openUrl(location))
            return;
}
