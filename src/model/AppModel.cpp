#include "model/AppModel.h"

#include "device/Keychain.h"
#include "device/Store.h"
#include "model/SameValue.h"
#include "platform/Defaults.h"
#include "platform/MainTask.h"
#include "service/Api.h"
#include "tunnel/Texts.h"
#include "tunnel/Vpn.h"

#include <QPointer>
#include <QTimer>

namespace {

const QString tokenKey = QStringLiteral("token");
const QString configsKey = QStringLiteral("configs");
const QString profileNameKey = QStringLiteral("profile_name");
const QString deviceLimitCode = QStringLiteral("device_limit");

// Stores `value` unless it equals what is there; true when it changed.
template <typename T> bool replace(T& member, T value) {
    if (same::value(member, value))
        return false;
    member = std::move(value);
    return true;
}

} // namespace

AppModel::AppModel(Api& api, Store& store, Keychain& keychain, Vpn& vpn, Clock& clock, QObject* parent)
    : QObject(parent), m_api(api), m_store(store), m_keychain(keychain), m_vpn(vpn), m_clock(clock) {
    m_signedIn = m_keychain.read(tokenKey).has_value();
    // The cached list lets the servers show before the first load, also offline.
    if (const auto cached = m_store.d().string(configsKey))
        applyConfigs(*cached);
    connect(&m_vpn, &Vpn::switchedServer, this,
            [this](const QString& server) { setMessage(tunnel_texts::switchedTo.arg(server)); });
    if (m_signedIn)
        QTimer::singleShot(0, this, [this] {
            if (m_loadsAtStart)
                startMainTask(load());
        });
}

AppModel::~AppModel() = default;

void AppModel::skipStartupLoad() {
    m_loadsAtStart = false;
}

void AppModel::clearNotices() {
    setMessage(std::nullopt);
    setError(std::nullopt);
}

QCoro::Task<> AppModel::load() {
    const QPointer<AppModel> self(this);
    if (!m_keychain.read(tokenKey))
        co_return;

    // A rejected token only shows the service's text: there is no sign-out.
    try {
        Me account = co_await m_api.me();
        if (!self)
            co_return;
        setMe(std::move(account));
    } catch (const ApiError& refusal) {
        if (self)
            setError(refusal.message);
        co_return;
    } catch (...) {
        co_return;
    }

    std::optional<Referral> referral;
    try {
        referral = co_await m_api.referral();
    } catch (...) {
    }
    if (!self)
        co_return;
    setReferral(std::move(referral));

    std::optional<Plans> catalogue;
    try {
        catalogue = co_await m_api.plans();
    } catch (...) {
    }
    if (!self)
        co_return;
    if (catalogue) {
        setPlans(catalogue->plans);
        setCard(catalogue->card);
        setStripeTiers(catalogue->stripe_tiers);
        setStripeTrial(catalogue->stripe_trial_days);
    }

    // An inactive account keeps the cached list: it is neither fetched nor cleared.
    if (m_me && m_me->active) {
        co_await fetchServerList();
        if (!self)
            co_return;
    }
    co_await checkUpdate();
}

QCoro::Task<> AppModel::fetchServerList() {
    const QPointer<AppModel> self(this);
    QString document;
    try {
        document = co_await m_api.configs();
    } catch (const ApiError& refusal) {
        if (self && refusal.apiCode == deviceLimitCode) {
            setDeviceLimit(true);
            setError(refusal.message);
        }
        co_return;
    } catch (...) {
        co_return;
    }
    if (!self)
        co_return;
    // Cache and list are written in one step with no suspension between them, so overlapping
    // loads can only replace one whole document by another.
    m_store.d().setString(configsKey, document);
    applyConfigs(document);
    setDeviceLimit(false);
}

void AppModel::applyConfigs(const QString& document) {
    m_configs = document;
    setProfiles(Api::parseProfiles(document));
    m_vpn.setProfiles(m_profiles);
    setSelected(saved(m_profiles));
}

QCoro::Task<> AppModel::checkUpdate() {
    const QPointer<AppModel> self(this);
    try {
        AppVersion version = co_await m_api.appVersion();
        if (self && version.version_code > m_store.appBuild())
            setUpdate(std::move(version));
    } catch (...) {
    }
}

std::optional<ServerProfile> AppModel::saved(const QList<ServerProfile>& profiles) const {
    if (profiles.isEmpty())
        return std::nullopt;
    if (const auto name = m_store.d().string(profileNameKey)) {
        for (const ServerProfile& profile : profiles) {
            if (profile.name == *name)
                return profile;
        }
    }
    return profiles.first();
}

void AppModel::followSharedSettings() {
    const auto cached = m_store.d().string(configsKey);
    if (cached && *cached != m_configs)
        applyConfigs(*cached);
    else
        setSelected(saved(m_profiles));
}

void AppModel::select(ServerProfile profile) {
    setSelected(profile);
    // The choice holds for this run either way; the user hears that the next start will not know it.
    if (!m_store.d().setString(profileNameKey, profile.name))
        setError(m_store.d().notSavedText());
    if (m_vpn.status() != Vpn::Status::Off)
        startMainTask(m_vpn.connect(std::move(profile)));
}

QCoro::Task<> AppModel::run(QString fallback, Action action) {
    const QPointer<AppModel> self(this);
    setBusy(true);
    setError(std::nullopt);
    std::optional<QString> failure;
    try {
        co_await action();
    } catch (const ApiError& refusal) {
        failure = refusal.message;
    } catch (const Fail& fail) {
        failure = fail.text;
    } catch (...) {
        failure = fallback;
    }
    if (!self)
        co_return;
    if (failure) {
        setError(*failure);
        emit actionFailed(*failure);
    }
    setBusy(false);
}

void AppModel::signedInAnew() {
    setSignedIn(true);
    m_vpn.stopWatching();
}

void AppModel::setSignedIn(bool value) {
    if (replace(m_signedIn, value))
        emit signedInChanged();
}

void AppModel::setBusy(bool value) {
    if (replace(m_busy, value))
        emit busyChanged();
}

void AppModel::setMe(std::optional<Me> value) {
    if (replace(m_me, std::move(value)))
        emit meChanged();
}

void AppModel::setProfiles(QList<ServerProfile> value) {
    if (replace(m_profiles, std::move(value)))
        emit profilesChanged();
}

void AppModel::setSelected(std::optional<ServerProfile> value) {
    if (replace(m_selected, std::move(value)))
        emit selectedChanged();
}

void AppModel::setPlans(QList<Plan> value) {
    if (replace(m_plans, std::move(value)))
        emit plansChanged();
}

void AppModel::setCard(bool value) {
    if (replace(m_card, value))
        emit cardChanged();
}

void AppModel::setStripeTiers(QList<StripeTier> value) {
    if (replace(m_stripeTiers, std::move(value)))
        emit stripeTiersChanged();
}

void AppModel::setStripeTrial(qint64 value) {
    if (replace(m_stripeTrial, value))
        emit stripeTrialChanged();
}

void AppModel::setReferral(std::optional<Referral> value) {
    if (replace(m_referral, std::move(value)))
        emit referralChanged();
}

void AppModel::setUpdate(std::optional<AppVersion> value) {
    if (replace(m_update, std::move(value)))
        emit updateChanged();
}

void AppModel::setDeviceLimit(bool value) {
    if (replace(m_deviceLimit, value))
        emit deviceLimitChanged();
}

void AppModel::setMessage(std::optional<QString> value) {
    if (replace(m_message, std::move(value)))
        emit messageChanged();
}

void AppModel::setError(std::optional<QString> value) {
    if (replace(m_error, std::move(value)))
        emit errorChanged();
}

void AppModel::setPendingOrder(std::optional<qint64> value) {
    if (replace(m_pendingOrder, value))
        emit pendingOrderChanged();
}

void AppModel::reportError(QString text) {
    setError(std::move(text));
}
