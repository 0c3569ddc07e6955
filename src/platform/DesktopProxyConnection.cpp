#include "platform/DesktopProxyConnection.h"

#include "platform/PlatformError.h"

DesktopProxyConnection::DesktopProxyConnection(TunnelConnection& tunnel, DesktopProxy proxy, QObject* parent)
    : TunnelConnection(parent), m_tunnel(&tunnel), m_proxy(std::move(proxy)) {
    m_worker.setMaxThreadCount(1); // one change at a time, in the order asked
    m_worker.setExpiryTimeout(-1);
    connect(m_tunnel, &TunnelConnection::statusChanged, this, &DesktopProxyConnection::follow);
    // Settings of ours left from a run that ended without restoring them.
    if (m_proxy.backupPresent() && m_tunnel->status() == TunnelStatus::Disconnected)
        restoreSettings();
}

DesktopProxyConnection::~DesktopProxyConnection() {
    m_worker.waitForDone();
}

TunnelStatus DesktopProxyConnection::status() const {
    const TunnelStatus tunnel = m_tunnel->status();
    return tunnel == TunnelStatus::Connected && m_wanted && !m_applied ? TunnelStatus::Connecting : tunnel;
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
    restoreSettings();
    m_tunnel->stop();
}

void DesktopProxyConnection::follow() {
    const TunnelStatus now = m_tunnel->status();
    if (now == TunnelStatus::Connected && m_wanted) {
        if (!m_applied && !m_applying) {
            m_applying = true;
            onWorker([](DesktopProxy& proxy) { proxy.apply(socksPort, httpPort); },
                     [this](const QString& error) { applied(error); });
        }
    } else {
        m_applied = false;
        // A dead proxy would cut every program off: give the user's settings back.
        if (now == TunnelStatus::Disconnected || now == TunnelStatus::Invalid)
            restoreSettings();
    }
    emit statusChanged();
}

void DesktopProxyConnection::applied(const QString& error) {
    m_applying = false;
    if (!error.isEmpty()) {
        // Nobody would use the tunnel: say why and take it down.
        m_failure = error;
        m_wanted = false;
        m_tunnel->stop();
    } else {
        m_applied = m_wanted && m_tunnel->status() == TunnelStatus::Connected;
    }
    emit statusChanged();
}

void DesktopProxyConnection::restoreSettings() {
    onWorker([](DesktopProxy& proxy) { proxy.restore(); });
}

void DesktopProxyConnection::onWorker(std::function<void(DesktopProxy&)> change,
                                      std::function<void(const QString&)> done) {
    // The destructor waits for the worker: a task never outlives this object, and an answer it
    // posts to a deleted object is dropped with it.
    m_worker.start([this, proxy = m_proxy, change = std::move(change), done = std::move(done)]() mutable {
        QString error;
        try {
            change(proxy);
        } catch (const PlatformError& failure) {
            error = failure.description;
        }
        if (done)
            QMetaObject::invokeMethod(
                this, [done, error] { done(error); }, Qt::QueuedConnection);
    });
}
