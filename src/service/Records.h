#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

// The service's replies. Each decode() enforces presence and JSON types exactly: integers must be
// JSON integers, floats take any number, optional members take absent or null, unknown members
// are ignored, and the first failing field throws a DecodingError naming it.

struct Device {
    std::optional<QString> hwid;
    std::optional<QString> model;
    std::optional<QString> os;
    std::optional<QString> version;
    static Device decode(const QJsonObject& json);
    bool operator==(const Device&) const = default;
};

struct Me {
    std::optional<QString> email;
    std::optional<QString> telegram;
    bool active = false;
    std::optional<QString> expire_at;
    qint64 devices_limit = 0;
    qint64 devices_used = 0;
    QList<Device> devices;
    bool trial_available = false;
    bool promo_available = false;
    QString support_url;
    static Me decode(const QJsonObject& json);
};

struct Plan {
    QString code;
    qint64 days = 0;
    qint64 devices = 0;
    qint64 price = 0;
    static Plan decode(const QJsonObject& json);
    bool operator==(const Plan&) const = default;
};

struct StripeTier {
    qint64 devices = 0;
    double monthly = 0;
    double yearly = 0;
    static StripeTier decode(const QJsonObject& json);
    bool operator==(const StripeTier&) const = default;
};

struct Plans {
    QList<Plan> plans;
    bool payments = false;
    bool card = false;
    QList<StripeTier> stripe_tiers;
    qint64 stripe_trial_days = 0;
    static Plans decode(const QJsonObject& json);
};

struct Referral {
    QString code;
    QString link;
    qint64 invited = 0;
    qint64 paid = 0;
    qint64 days = 0;
    qint64 days_invite = 0;
    qint64 days_paid = 0;
    qint64 days_friend = 0;
    static Referral decode(const QJsonObject& json);
};

struct TokenResp {
    QString token;
    static TokenResp decode(const QJsonObject& json);
};

struct TgStart {
    QString key;
    QString url;
    static TgStart decode(const QJsonObject& json);
};

struct PayResp {
    qint64 order_id = 0;
    qint64 amount = 0;
    QString url;
    static PayResp decode(const QJsonObject& json);
};

struct PayStatus {
    QString status;
    static PayStatus decode(const QJsonObject& json);
};

struct StripeUrl {
    QString url;
    static StripeUrl decode(const QJsonObject& json);
};

struct PromoResp {
    bool ok = false;
    QString message;
    static PromoResp decode(const QJsonObject& json);
};

struct AppVersion {
    qint64 version_code = 0;
    QString version_name;
    QString url;
    QString notes;
    static AppVersion decode(const QJsonObject& json);
};

// Every field alike (the version record has no equality of its own).
bool sameVersion(const AppVersion& a, const AppVersion& b);

size_t qHash(const Device& device, size_t seed = 0) noexcept;
size_t qHash(const Plan& plan, size_t seed = 0) noexcept;
size_t qHash(const StripeTier& tier, size_t seed = 0) noexcept;
