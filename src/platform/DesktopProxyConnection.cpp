#include "platform/DesktopProxyConnection.h"

#include "platform/PlatformError.h"

#include <QJsonArray>
#include <QJsonDocument>

DesktopProxyConnection::DesktopProxyConnection(TunnelConnection& tunnel, DesktopProxy proxy, QObject* parent)
    : TunnelConnection(parent), m_tunnel(&tunnel), m_proxy(std::move(proxy)) {
    connect(m_tunnel, &TunnelConnection::statusChanged, this, &DesktopProxyConnection::follow);
    // Settings of ours left from a run that ended without restoring them.
    if (m_proxy.backupPresent() && m_tunnel->status() == TunnelStatus::Disconnected)
        m_proxy.restore();
}

QJsonObject DesktopProxyConnection::withHttpEntry(QJsonObject document) {
    QJsonArray inbounds = document.value("inbounds").toArray();
    for (const auto inbound : inbounds)
        if (inbound.toObject().value("tag") == QLatin1String("http"))
            return document;
    inbounds.append(
        QJsonObject{{"tag", "http"}, {"port", httpPort}, {"listen", "127.0.0.1"}, {"protocol", "http"}});
    document.insert("inbounds", inbounds);
    return document;
}

void DesktopProxyConnection::start(const QJsonObject& options) {
    m_failure.reset();
    QJsonObject adapted = options;
    const QJsonValue config = options.value("config");
    if (config.isString()) {
        const QJsonObject document = QJsonDocument::fromJson(config.toString().toUtf8()).object();
        adapted.insert("config", QString::fromUtf8(
                                     QJsonDocument(withHttpEntry(document)).toJson(QJsonDocument::Compact)));
    }
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
