#include "platform/DesktopProxyConnection.h"

#include "platform/PlatformError.h"

DesktopProxyConnection::DesktopProxyConnection(TunnelConnection& tunnel, DesktopProxy proxy, QObject* parent)
    : TunnelConnection(parent), m_tunnel(&tunnel), m_proxy(std::move(proxy)) {
    connect(m_tunnel, &TunnelConnection::statusChanged, this, &DesktopProxyConnection::follow);
    // Settings of ours left from a run that ended without restoring them.
    if (m_proxy.backupPresent() && m_tunnel->status() == TunnelStatus::Disconnected)
        m_proxy.restore();
}

void DesktopProxyConnection::start(const QJsonObject& options) {
    m_failure.reset();
    QJsonObject adapted = options;
    adapted.insert(desktopProxyOption, true); // the host opens the HTTP entry and guards the settings
    m_wanted = true;
    m_tunnel->start(adapted);
}

void DesktopProxyConnection::stop() {
    m_wanted = false;
    m_proxy.restore();
    m_tunnel->stop();
}

void DesktopProxyConnection::follow() {
    const TunnelStatus now = m_tunnel->status();
    if (now == TunnelStatus::Connected && m_wanted) {
        try {
            m_proxy.apply(socksPort, httpPort);
        } catch (const PlatformError& error) {
            // Nobody would use the tunnel: say why and take it down.
            m_failure = error.description;
            m_wanted = false;
            m_tunnel->stop();
        }
    } else if (now == TunnelStatus::Disconnected || now == TunnelStatus::Invalid) {
        // A dead proxy would cut every program off: give the user's settings back.
        m_proxy.restore();
    }
    emit statusChanged();
}
