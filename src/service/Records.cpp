#include "service/Records.h"

#include "service/JsonFields.h"

#include <QHashFunctions>
#include <tuple>
#include <utility>

// Fields are read in the order the service documents them: the first failing one is reported.

template <> Device decodeWithPath<Device>(const QJsonObject& json, const QString& path) {
    const JsonFields f(json, path);
    Device d;
    d.hwid = f.optionalString("hwid");
    d.model = f.optionalString("model");
    d.os = f.optionalString("os");
    d.version = f.optionalString("version");
    return d;
}

template <> Plan decodeWithPath<Plan>(const QJsonObject& json, const QString& path) {
    const JsonFields f(json, path);
    Plan p;
    p.code = f.string("code");
    p.days = f.integer("days");
    p.devices = f.integer("devices");
    p.price = f.integer("price");
    return p;
}

template <> StripeTier decodeWithPath<StripeTier>(const QJsonObject& json, const QString& path) {
    const JsonFields f(json, path);
    StripeTier t;
    t.devices = f.integer("devices");
    t.monthly = f.number("monthly");
    t.yearly = f.number("yearly");
    return t;
}

Device Device::decode(const QJsonObject& json) {
    return decodeWithPath<Device>(json, {});
}

Plan Plan::decode(const QJsonObject& json) {
    return decodeWithPath<Plan>(json, {});
}

StripeTier StripeTier::decode(const QJsonObject& json) {
    return decodeWithPath<StripeTier>(json, {});
}

Me Me::decode(const QJsonObject& json) {
    const JsonFields f(json);
    Me me;
    me.email = f.optionalString("email");
    me.telegram = f.optionalString("telegram");
    me.active = f.boolean("active");
    me.expire_at = f.optionalString("expire_at");
    me.devices_limit = f.integer("devices_limit");
    me.devices_used = f.integer("devices_used");
    me.devices = f.list<Device>("devices");
    me.trial_available = f.boolean("trial_available");
    me.promo_available = f.boolean("promo_available");
    me.support_url = f.string("support_url");
    return me;
}

Plans Plans::decode(const QJsonObject& json) {
    const JsonFields f(json);
    Plans p;
    p.plans = f.list<Plan>("plans");
    p.payments = f.boolean("payments");
    p.card = f.boolean("card");
    p.stripe_tiers = f.list<StripeTier>("stripe_tiers");
    p.stripe_trial_days = f.integer("stripe_trial_days");
    return p;
}

Referral Referral::decode(const QJsonObject& json) {
    const JsonFields f(json);
    Referral r;
    r.code = f.string("code");
    r.link = f.string("link");
    r.invited = f.integer("invited");
    r.paid = f.integer("paid");
    r.days = f.integer("days");
    r.days_invite = f.integer("days_invite");
    r.days_paid = f.integer("days_paid");
    r.days_friend = f.integer("days_friend");
    return r;
}

TokenResp TokenResp::decode(const QJsonObject& json) {
    return TokenResp{JsonFields(json).string("token")};
}

TgStart TgStart::decode(const QJsonObject& json) {
    const JsonFields f(json);
    TgStart t;
    t.key = f.string("key");
    t.url = f.string("url");
    return t;
}

PayResp PayResp::decode(const QJsonObject& json) {
    const JsonFields f(json);
    PayResp p;
    p.order_id = f.integer("order_id");
    p.amount = f.integer("amount");
    p.url = f.string("url");
    return p;
}

PayStatus PayStatus::decode(const QJsonObject& json) {
    return PayStatus{JsonFields(json).string("status")};
}

StripeUrl StripeUrl::decode(const QJsonObject& json) {
    return StripeUrl{JsonFields(json).string("url")};
}

PromoResp PromoResp::decode(const QJsonObject& json) {
    const JsonFields f(json);
    PromoResp p;
    p.ok = f.boolean("ok");
    p.message = f.string("message");
    return p;
}

AppVersion AppVersion::decode(const QJsonObject& json) {
    const JsonFields f(json);
    AppVersion v;
    v.version_code = f.integer("version_code");
    v.version_name = f.string("version_name");
    v.url = f.string("url");
    v.notes = f.string("notes");
    return v;
}

size_t qHash(const Device& device, size_t seed) noexcept {
    // Presence takes part, so an absent member and an empty one hash apart as they compare apart.
    const auto part = [](const std::optional<QString>& value) {
        return std::pair(value.has_value(), value.value_or(QString()));
    };
    return qHashMulti(seed, part(device.hwid), part(device.model), part(device.os), part(device.version));
}

size_t qHash(const Plan& plan, size_t seed) noexcept {
    return qHashMulti(seed, plan.code, plan.days, plan.devices, plan.price);
}

size_t qHash(const StripeTier& tier, size_t seed) noexcept {
    // -0.0 and 0.0 compare equal, so they must hash alike.
    const auto normal = [](double value) {
        return value == 0 ? 0.0 : value;
    };
    return qHashMulti(seed, tier.devices, normal(tier.monthly), normal(tier.yearly));
}

bool sameVersion(const AppVersion& a, const AppVersion& b) {
    return std::tie(a.version_code, a.version_name, a.url, a.notes) ==
           std::tie(b.version_code, b.version_name, b.url, b.notes);
}
