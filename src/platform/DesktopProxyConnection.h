#pragma once

#include "platform/DesktopProxy.h"
#include "platform/TunnelManager.h"

#include <QPointer>

// The desktop-proxy mode: the tunnel host's tunnel, with an HTTP entry 127.0.0.1:10809 beside
// the SOCKS one, and the desktop's proxy settings pointed at both while it is connected. The
// user's settings come back when it stops or goes down; the host puts them back too when it
// ends with no app running (stopped, crashed, killed), and this connection at the next start of
// the app or vemkoctl, first thing, when they are still ours.
class DesktopProxyConnection final : public TunnelConnection {
    Q_OBJECT
public:
    static constexpr int socksPort = 10808;
    static constexpr int httpPort = 10809;

    DesktopProxyConnection(TunnelConnection& tunnel, DesktopProxy proxy = DesktopProxy(),
                           QObject* parent = nullptr);

    TunnelStatus status() const override { return m_tunnel->status(); }
    std::optional<QDateTime> connectedDate() const override { return m_tunnel->connectedDate(); }
    void start(const QJsonObject& options) override;
    void stop() override;
    std::optional<QString> failure() const override { return m_failure; }

private:
    void follow();

    QPointer<TunnelConnection> m_tunnel;
    DesktopProxy m_proxy;
    bool m_wanted = false;
    std::optional<QString> m_failure;
};
