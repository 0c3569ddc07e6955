#pragma once

#include "platform/TunnelEngine.h"

#include <QCoroTask>
#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

// The platform's own tunnel states, every one named.
enum class TunnelStatus { Invalid, Disconnected, Connecting, Connected, Reasserting, Disconnecting };

// The provider protocol of a saved tunnel configuration.
struct TunnelProtocol {
    QString providerBundleIdentifier;
    QString serverAddress;
    QJsonObject providerConfiguration; // "config": the tunnel document, "server": the server name
    bool excludeLocalNetworks = false;
};

// The start option that asks for the desktop-proxy mode's host (see TunnelConnection::start).
inline const QString desktopProxyOption = QStringLiteral("desktopProxy");

// The tunnel's connection: start, stop and watch. Errors are PlatformError.
class TunnelConnection : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual TunnelStatus status() const = 0;
    virtual std::optional<QDateTime> connectedDate() const = 0;
    // Starts the tunnel with options holding "config" (the document); without options the saved
    // provider configuration is used. A running tunnel is replaced. With desktopProxyOption true, a
    // host of its own also carries the desktop-proxy mode's HTTP entry and settings.
    virtual void start(const QJsonObject& options) = 0;
    virtual void stop() = 0;
    // The system waits for the user to allow the change (an administrator prompt).
    virtual bool awaitingApproval() const { return false; }
    // Asks the user again while awaitingApproval(): the prompt lost behind windows is withdrawn and
    // a fresh one shown.
    virtual void askAgain() {}
    // The tunnel is gone while it should be up, and the system refuses all traffic until the
    // user disconnects or it comes up again (the kill switch holds).
    virtual bool blocked() const { return false; }
    // While blocked, why, when it is not simply that the tunnel broke off.
    virtual std::optional<QString> blockedReason() const { return std::nullopt; }
    // Why the last start or stop ended without the state asked for; a start clears it.
    virtual std::optional<QString> failure() const { return std::nullopt; }

signals:
    // Fires on every change of status().
    void statusChanged();
    // The tunnel reports connections to its server that failed (the engine's warnings).
    void trafficTrouble();
};

// One saved tunnel configuration (the app keeps at most one). Edit the public fields, then
// save(); load() rereads what is saved. A failed save leaves the saved file untouched.
class TunnelManager {
public:
    virtual ~TunnelManager() = default;

    std::optional<TunnelProtocol> protocolConfiguration;
    QString localizedDescription;
    bool isEnabled = false;

    virtual QCoro::Task<> save() = 0; // throws PlatformError
    virtual QCoro::Task<> load() = 0; // throws PlatformError
    // Nothing when the configuration has never been saved.
    virtual TunnelConnection* connection() = 0;
};

// The tunnel service as a whole: the saved configurations, the status notification that fires
// when any tunnel connection changes state, and the note the app's processes leave each other
// about the tunnel.
class TunnelSystem : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // The saved configurations of this app: none or one. Throws PlatformError.
    virtual QCoro::Task<std::vector<std::shared_ptr<TunnelManager>>> loadAll() = 0;
    // A new, unsaved configuration.
    virtual std::shared_ptr<TunnelManager> create() = 0;
    // The engine that runs this user's tunnels.
    virtual const engine::Discovered& engine() const { return TunnelEngine::found(); }

    // What one process of the app tells the others about the tunnel (a connect under way, the
    // proof that it carries traffic); it lasts until the machine restarts. A change made by any
    // process fires statusChanged. This base keeps it in memory, for one process.
    virtual QJsonObject sharedNote() const { return m_note; }
    virtual void setSharedNote(const QJsonObject& note);

signals:
    void statusChanged();
    // The running tunnel reports connections to its server that failed.
    void trafficTrouble();

private:
    QJsonObject m_note;
};
