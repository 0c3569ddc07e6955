#pragma once

#include "platform/DesktopProxy.h"
#include "platform/TunnelManager.h"

#include <QPointer>
#include <QThreadPool>
#include <functional>

// The desktop-proxy mode: the tunnel host's tunnel, with an HTTP entry 127.0.0.1:10809 beside
// the SOCKS one, and the desktop's proxy settings pointed at both while it is connected. The
// user's settings come back when it stops or goes down; the host puts them back too when it
// ends with no app running (stopped, crashed, killed), and this connection at the next start of
// the app or vemkoctl, first thing, when they are still ours.
//
// Changing the settings runs gsettings, dconf or kwriteconfig several times: that happens on a
// worker thread of its own, one change after the other in the order asked, so the window never
// waits for it. Until the settings point at the tunnel, a connected tunnel reads as connecting.
class DesktopProxyConnection final : public TunnelConnection {
    Q_OBJECT
public:
    static constexpr int socksPort = 10808;
    static constexpr int httpPort = 10809;

    DesktopProxyConnection(TunnelConnection& tunnel, DesktopProxy proxy = DesktopProxy(),
                           QObject* parent = nullptr);
    ~DesktopProxyConnection() override; // waits for a change under way: the settings are never left half done

    TunnelStatus status() const override;
    std::optional<QDateTime> connectedDate() const override { return m_tunnel->connectedDate(); }
    void start(const QJsonObject& options) override;
    void stop() override;
    std::optional<QString> failure() const override { return m_failure; }

private:
    void follow();
    void restoreSettings();
    // Runs `change` on the worker; `done` gets its error (empty on success) back on this thread.
    void onWorker(std::function<void(DesktopProxy&)> change, std::function<void(const QString&)> done = {});
    void applied(const QString& error);

    QPointer<TunnelConnection> m_tunnel;
    DesktopProxy m_proxy;
    QThreadPool m_worker;
    bool m_wanted = false;
    bool m_applying = false;
    bool m_applied = false;
    std::optional<QString> m_failure;
};
