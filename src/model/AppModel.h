#pragma once

#include "service/Records.h"
#include "service/ServerProfile.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class Api;
class Clock;
class Keychain;
class Store;
class Vpn;

// Everything the screens know about the signed-in account, and the flows that change it: the
// load cycle, server selection, sign-in, subscription and payment. Main thread only.
//
// Every property has the type the screens work with; "none" is an empty std::optional, never a
// placeholder value. Setters notify only when the value really changed.
class AppModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool signedIn READ signedIn NOTIFY signedInChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(std::optional<Me> me READ me NOTIFY meChanged)
    Q_PROPERTY(QList<ServerProfile> profiles READ profiles NOTIFY profilesChanged)
    Q_PROPERTY(std::optional<ServerProfile> selected READ selected NOTIFY selectedChanged)
    Q_PROPERTY(QList<Plan> plans READ plans NOTIFY plansChanged)
    Q_PROPERTY(bool card READ card NOTIFY cardChanged)
    Q_PROPERTY(QList<StripeTier> stripeTiers READ stripeTiers NOTIFY stripeTiersChanged)
    Q_PROPERTY(qint64 stripeTrial READ stripeTrial NOTIFY stripeTrialChanged)
    Q_PROPERTY(std::optional<Referral> referral READ referral NOTIFY referralChanged)
    Q_PROPERTY(std::optional<AppVersion> update READ update NOTIFY updateChanged)
    Q_PROPERTY(bool deviceLimit READ deviceLimit NOTIFY deviceLimitChanged)
    Q_PROPERTY(std::optional<QString> message READ message NOTIFY messageChanged)
    Q_PROPERTY(std::optional<QString> error READ error NOTIFY errorChanged)
    Q_PROPERTY(std::optional<qint64> pendingOrder READ pendingOrder NOTIFY pendingOrderChanged)

public:
    // Opens a link for the user (the default browser in the app).
    using OpenUrl = std::function<void(QUrl)>;

    // Restores the cached server list and selection at once; when a token is stored, starts a
    // load cycle from the event loop (so the creator can connect to the signals first).
    AppModel(Api& api, Store& store, Keychain& keychain, Vpn& vpn, Clock& clock, QObject* parent = nullptr);
    ~AppModel() override;

    // The running application's model, set once by main(); only main() and the shell reach it.
    static AppModel& shared();
    static void setShared(AppModel& model);

    bool signedIn() const { return m_signedIn; }
    bool busy() const { return m_busy; }
    std::optional<Me> me() const { return m_me; }
    QList<ServerProfile> profiles() const { return m_profiles; }
    std::optional<ServerProfile> selected() const { return m_selected; }
    QList<Plan> plans() const { return m_plans; }
    bool card() const { return m_card; }
    QList<StripeTier> stripeTiers() const { return m_stripeTiers; }
    qint64 stripeTrial() const { return m_stripeTrial; }
    std::optional<Referral> referral() const { return m_referral; }
    std::optional<AppVersion> update() const { return m_update; }
    bool deviceLimit() const { return m_deviceLimit; }
    std::optional<QString> message() const { return m_message; }
    std::optional<QString> error() const { return m_error; }
    std::optional<qint64> pendingOrder() const { return m_pendingOrder; }

    // For a caller that runs its own first load cycle (the command line): the one creation
    // scheduled does not start. Call right after creating the model.
    void skipStartupLoad();

    // The toast is done with both texts.
    void clearNotices();

    // Account, referral figures, catalogue, server list (for an active account), version check.
    // Never throws; never touches busy, and never clears message or error.
    QCoro::Task<> load();
    // Makes `profile` the selected server, remembers it, and moves a running tunnel onto it.
    void select(ServerProfile profile);
    // The shared settings changed (vemkoctl or another window wrote them): the server list and
    // the selection follow what is stored now.
    void followSharedSettings();
    // Stores `update` when the service offers a build newer than this one.
    QCoro::Task<> checkUpdate();

    // Sign-in flows. None throws; failures land in `error`.
    QCoro::Task<> signIn(QString email, QString password);
    QCoro::Task<> signUp(QString email, QString password);
    QCoro::Task<> signInWithTelegram(OpenUrl open);
    QCoro::Task<> signInWithToken(QString token);

    // Subscription and payment flows. None throws; failures land in `error`.
    QCoro::Task<> takeTrial();
    QCoro::Task<> applyPromo(QString code);
    QCoro::Task<> unbind(QString hwid);
    QCoro::Task<> subscribeStripe(qint64 devices, QString interval, OpenUrl open);
    // Creates a one-off payment ("sbp" or "crypto"), remembers its order for checkPayment()
    // and opens the payment page.
    QCoro::Task<> pay(QString plan, QString method, OpenUrl open);
    // Polls the pending one-off payment until it is paid, for at most 40 status requests (fewer
    // when nothing is pending any more).
    QCoro::Task<> checkPayment();
    // Polls the pending payment round after round for as long as `watching()` holds (the window
    // is shown) and it is pending; one watch at a time, a second call returns at once.
    QCoro::Task<> watchPayment(std::function<bool()> watching);
    bool watchingPayment() const { return m_watchingPayment; }
    // The user gives up waiting: nothing is pending any more and the polling stops.
    void stopWaitingForPayment();
    // The pending payment's page, to open it again.
    std::optional<QUrl> paymentPage() const { return m_pendingOrder ? m_paymentPage : std::nullopt; }

    // A failure a screen met outside the flows (changing start at login), shown as theirs are.
    void reportError(QString text);

signals:
    void signedInChanged();
    void busyChanged();
    void meChanged();
    void profilesChanged();
    void selectedChanged();
    void plansChanged();
    void cardChanged();
    void stripeTiersChanged();
    void stripeTrialChanged();
    void referralChanged();
    void updateChanged();
    void deviceLimitChanged();
    void messageChanged();
    void errorChanged();
    void pendingOrderChanged();
    // A user action did not reach its end (its text is in `error` too); a load cycle's own
    // complaints after a successful action are not failures of the action.
    void actionFailed(const QString& text);

private:
    // Flows name their action in a local before awaiting run(): gcc 12 destroys a temporary
    // std::function built inside a co_await expression twice when the action fails.
    using Action = std::function<QCoro::Task<>()>;

    // The busy/error wrapper of every user action: an ApiError shows the service's text, any
    // other failure `fallback`. busy ends false however the action ends.
    QCoro::Task<> run(QString fallback, Action action);
    std::optional<ServerProfile> saved(const QList<ServerProfile>& profiles) const;
    // Parses a configs document into the server list, hands it to the tunnel, restores the selection.
    void applyConfigs(const QString& document);

    QCoro::Task<> fetchServerList();
    QCoro::Task<> accountSignIn(bool create, QString email, QString password);
    QCoro::Task<> telegramSignIn(OpenUrl open);
    QCoro::Task<> trialBody();
    QCoro::Task<> promoBody(QString code);
    QCoro::Task<> unbindBody(QString hwid);
    QCoro::Task<> stripeBody(qint64 devices, QString interval, OpenUrl open);
    QCoro::Task<> payBody(QString plan, QString method, OpenUrl open);

    void setSignedIn(bool value);
    // A sign-in stored a new token: another account may own the tunnel's watch from now on.
    void signedInAnew();
    void setBusy(bool value);
    void setMe(std::optional<Me> value);
    void setProfiles(QList<ServerProfile> value);
    void setSelected(std::optional<ServerProfile> value);
    void setPlans(QList<Plan> value);
    void setCard(bool value);
    void setStripeTiers(QList<StripeTier> value);
    void setStripeTrial(qint64 value);
    void setReferral(std::optional<Referral> value);
    void setUpdate(std::optional<AppVersion> value);
    void setDeviceLimit(bool value);
    void setMessage(std::optional<QString> value);
    void setError(std::optional<QString> value);
    void setPendingOrder(std::optional<qint64> value);

    Api& m_api;
    Store& m_store;
    Keychain& m_keychain;
    Vpn& m_vpn;
    Clock& m_clock;

    bool m_signedIn = false;
    bool m_busy = false;
    std::optional<Me> m_me;
    QList<ServerProfile> m_profiles;
    std::optional<ServerProfile> m_selected;
    QList<Plan> m_plans;
    bool m_card = false;
    QList<StripeTier> m_stripeTiers;
    qint64 m_stripeTrial = 0;
    std::optional<Referral> m_referral;
    std::optional<AppVersion> m_update;
    bool m_deviceLimit = false;
    std::optional<QString> m_message;
    std::optional<QString> m_error;
    std::optional<qint64> m_pendingOrder;
    std::optional<QUrl> m_paymentPage;
    bool m_watchingPayment = false;
    QString m_configs; // the configs document the server list was parsed from
    bool m_loadsAtStart = true;
};
