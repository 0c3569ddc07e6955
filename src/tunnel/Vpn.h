#pragma once

#include "platform/ExtensionManager.h"
#include "service/ServerProfile.h"

#include <QCoroTask>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QNetworkProxy>
#include <QObject>
#include <QPointer>
#include <QString>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

class Clock;
class Desktop;
class QNetworkAccessManager;
class Store;
class TunnelManager;
class TunnelSystem;

namespace vpn_detail {
class OneShot;
struct Doubt;
} // namespace vpn_detail

// The tunnel controller: publishes the tunnel's state to the screens and connects with fail-over
// across the candidate servers, proving each one with a request through the tunnel.
// Main thread only.
class Vpn final : public QObject, public ExtensionRequestDelegate {
    Q_OBJECT
public:
    enum class Status { Off, Connecting, On };
    Q_ENUM(Status)

    Q_PROPERTY(Status status READ status NOTIFY statusChanged)
    // The server connect is trying ("пробую: " + name for later candidates) or has connected.
    Q_PROPERTY(std::optional<QString> profileName READ profileName NOTIFY profileNameChanged)
    // The last user-facing message of connect or extension activation.
    Q_PROPERTY(std::optional<QString> error READ error NOTIFY errorChanged)
    // When the current connection came up.
    Q_PROPERTY(std::optional<QDateTime> since READ since NOTIFY sinceChanged)
    // "city · ip" (or the ip alone) as the outside world sees us through the tunnel.
    Q_PROPERTY(std::optional<QString> exit READ exit NOTIFY exitChanged)
    Q_PROPERTY(bool needsApproval READ needsApproval NOTIFY needsApprovalChanged)
    Q_PROPERTY(QList<ServerProfile> profiles READ profiles WRITE setProfiles NOTIFY profilesChanged)
    Q_PROPERTY(QString tunnelBundleId READ tunnelBundleId CONSTANT)
    Q_PROPERTY(bool previewOnly READ previewOnly CONSTANT)
    // "system" | "desktop_proxy" | "socks" (the stored "tunnel_mode"); the next connection uses it.
    Q_PROPERTY(QString tunnelMode READ tunnelMode WRITE setTunnelMode NOTIFY tunnelModeChanged)
    // The tunnel broke while it should be up and the kill switch refuses all traffic until the
    // user disconnects or it comes back (tunnel_texts::killSwitch says so).
    Q_PROPERTY(bool blocked READ blocked NOTIFY blockedChanged)
    // The tunnel stopped carrying traffic and connect runs again to replace its server (here or
    // in another process of the app).
    Q_PROPERTY(bool recovering READ recovering NOTIFY recoveringChanged)

    // VEMKO_IPINFO_URL when set, else https://ipinfo.io/json.
    static QString defaultIpinfoUrl();
    // The tunnel's local SOCKS entry (127.0.0.1:10808), through which the traffic probe and the
    // exit-address lookup go.
    static QNetworkProxy tunnelSocksProxy();

    // Both requests that must travel through the tunnel use `tunnelProxy`: the exit-address lookup
    // on `lookupNetwork` (the controller's own; it sets its proxy), the traffic probe on a fresh
    // network object per probe. Registers for the tunnel status notification and starts loading
    // the saved tunnel configuration.
    Vpn(TunnelSystem& tunnels, ExtensionManager& extensions, Store& store, Clock& clock, Desktop& desktop,
        QNetworkAccessManager& lookupNetwork, QString apiOrigin, QString ipinfoUrl = defaultIpinfoUrl(),
        QObject* parent = nullptr, const QNetworkProxy& tunnelProxy = tunnelSocksProxy());
    ~Vpn() override;

    // The running application's tunnel controller, set once by main(); only main() and the shell reach it.
    static Vpn& shared();
    static void setShared(Vpn& vpn);

    Status status() const { return m_status; }
    std::optional<QString> profileName() const { return m_profileName; }
    std::optional<QString> error() const { return m_error; }
    std::optional<QDateTime> since() const { return m_since; }
    std::optional<QString> exit() const { return m_exit; }
    bool needsApproval() const { return m_needsApproval; }
    QList<ServerProfile> profiles() const { return m_profiles; }
    void setProfiles(const QList<ServerProfile>& profiles);
    // Why the named server cannot run on this machine's engine ("нужен Xray: REALITY"); nothing
    // when it can. Follows profilesChanged.
    std::optional<QString> unusableReason(const QString& name) const;
    // The engine that runs the tunnel ("Xray 25.12.8"), or why there is none.
    QString engineName() const;
    QString engineProblem() const;
    QString tunnelBundleId() const;
    bool previewOnly() const;
    QString tunnelMode() const;
    // Unknown texts are ignored. False when the choice could not be saved (the mode stays).
    bool setTunnelMode(const QString& mode);
    bool blocked() const { return m_blocked; }
    bool recovering() const { return m_recovering; }
    // The server that carries the tunnel while it is on; after a fail-over not the one chosen.
    std::optional<QString> carrier() const { return m_status == Status::On ? m_profileName : std::nullopt; }
    // While blocked, why, when it is not simply that the tunnel broke off (blockedChanged).
    const QString& blockedReason() const { return m_blockedReason; }

    // Loads the saved tunnel configuration and syncs the status.
    QCoro::Task<> load();
    // Maps the platform's tunnel state and the app's shared note onto status, since, exit,
    // profileName, recovering and needsApproval. The tunnel reads as on only once proven.
    void syncStatus();
    // Brings the tunnel up on `profile` or, failing that, on the next candidate that passes the
    // traffic probe; status stays connecting until one has. The outcome is in status, profileName
    // and error; a candidate that failed is stopped. A later connect or a disconnect ends this
    // run at its next suspension. Once on, the tunnel is watched (see recheck).
    QCoro::Task<> connect(ServerProfile profile);
    // Stops the tunnel without waiting for the platform; forgets "was_connected"; ends the watch.
    void disconnect();
    // There is reason to doubt the tunnel (the network changed, the machine woke): when it is on,
    // it is proved again after `settle`. Two failed proofs in a row replace its server. Without
    // such a reason it is proved every few minutes, and when the engine reports failed connections.
    void recheck(std::chrono::milliseconds settle = std::chrono::milliseconds(0));
    // Ends the watch over the running tunnel, leaving the tunnel as it is (another account signed in).
    void stopWatching();
    // Opens the first system settings location that approves the tunnel component; while the
    // system-wide tunnel waits for the administrator prompt, shows that prompt again.
    void openExtensionSettings();

    // ExtensionRequestDelegate
    ReplacementAction actionForReplacingExtension(const QString& identifier) override;
    void requestNeedsUserApproval(const QString& identifier) override;
    void requestDidFinish(const QString& identifier, Result result) override;
    void requestDidFail(const QString& identifier, const QString& error) override;

signals:
    void statusChanged();
    void profileNameChanged();
    void errorChanged();
    void sinceChanged();
    void exitChanged();
    void needsApprovalChanged();
    void profilesChanged();
    void tunnelModeChanged();
    void blockedChanged();
    void recoveringChanged();
    // The watch replaced a server that stopped carrying traffic: the tunnel is on through `server`.
    void switchedServer(const QString& server);

private:
    class Run;

    void setStatus(Status status);
    void setProfileName(std::optional<QString> name);
    void setError(std::optional<QString> error);
    void setSince(std::optional<QDateTime> since);
    void setExit(std::optional<QString> exit);
    void setNeedsApproval(bool needsApproval);
    void setBlocked(bool blocked, const QString& reason = {});
    void setRecovering(bool recovering);

    void onStatusNotification();
    void onTrafficTrouble();
    // The platform's state of the current connection alone, before any proof.
    Status platformStatus() const;
    bool runUnderway() const { return m_runUnderway != 0 && m_runUnderway == m_run; }
    QCoro::Task<> lookupExit(quint64 lookup);
    QCoro::Task<std::shared_ptr<TunnelManager>> prepareManager(QString config, QString server, Run run);
    QCoro::Task<> installExtensionIfNeeded(Run run);
    // The candidates in turn until one passes the probe: true when the tunnel is on.
    QCoro::Task<bool> tryServers(QList<ServerProfile> candidates, Run run, bool recovering);
    QCoro::Task<bool> tryCandidate(ServerProfile candidate, Run run);
    // The tunnel is proven through `candidate`: tell every process, then show it on.
    void proven(const ServerProfile& candidate, bool recovering);
    QCoro::Task<bool> waitForStatus(Status wanted, std::chrono::milliseconds limit, Run run);
    QCoro::Task<> pollPause(std::chrono::milliseconds pause, Run run);
    // The traffic probe; with `server` known, a direct look at that server runs beside it and
    // ends it at once when the server refuses connections.
    QCoro::Task<bool> probeTraffic(Run run, std::optional<ServerProfile> server = std::nullopt);
    QCoro::Task<> watchServerAnswer(ServerProfile server, quint64 probe);
    void abortProbe();
    // A tunnel found connected that no run of the app has proven (its run ended with its
    // process): proved now, and stopped when it carries nothing.
    void adoptUnproven();
    QCoro::Task<> proveAdopted(Run run);
    void startWatch();
    QCoro::Task<> watch(Run run, quint64 generation);
    QCoro::Task<bool> recover(Run run);
    // The profile of the server the tunnel runs through, when the list knows it.
    std::optional<ServerProfile> carrierProfile() const;
    void stopTunnel();
    void supersedeRuns();

    TunnelSystem& m_tunnels;
    ExtensionManager& m_extensions;
    Store& m_store;
    Clock& m_clock;
    Desktop& m_desktop;
    QNetworkAccessManager& m_lookupNetwork;
    QString m_apiOrigin;
    QString m_ipinfoUrl;
    QNetworkProxy m_tunnelProxy;

    Status m_status = Status::Off;
    std::optional<QString> m_profileName;
    std::optional<QString> m_error;
    std::optional<QDateTime> m_since;
    std::optional<QString> m_exit;
    bool m_needsApproval = false;
    bool m_blocked = false;
    bool m_recovering = false;
    QString m_blockedReason;
    bool m_promptShown = false; // needsApproval set for the connection's administrator prompt
    QList<ServerProfile> m_profiles;
    QHash<QString, QString> m_unusable;    // server name → why this engine cannot run it
    std::optional<ServerProfile> m_chosen; // the server the last connect was asked for
    const QString m_runner;                // this controller in the shared note

    std::shared_ptr<TunnelManager> m_manager;
    // The pending extension activation's waiter: one slot, a newer request cancels the older.
    std::shared_ptr<vpn_detail::OneShot> m_extensionRequestDone;
    // Waits of connect that a status notification may end early.
    std::vector<std::shared_ptr<vpn_detail::OneShot>> m_statusWaiters;
    quint64 m_run = 0;         // the current connect run; a newer connect or a disconnect moves it on
    quint64 m_runUnderway = 0; // the run that is trying candidates, while it does
    quint64 m_lookup = 0;      // the current exit lookup; a later one or going off moves it on
    bool m_adopting = false;
    QPointer<QNetworkAccessManager> m_probing; // the probe's network object, while one runs
    quint64 m_probe = 0;                       // the current probe, for the server look beside it
    bool m_serverRefused = false;              // that look found the server refusing
    // The watch over the tunnel while it is on: its generation, moved on when it ends; the wake-up
    // that a reason to doubt completes, and how long to let things settle before the proof.
    bool m_watching = false;
    quint64 m_watch = 0;
    std::shared_ptr<vpn_detail::Doubt> m_doubt;
    QDateTime m_troubleQuietUntil; // the engine's reports are not heard again before this
};

using VpnStatus = Vpn::Status;
