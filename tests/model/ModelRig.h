#pragma once

// An AppModel against the test service and a real Vpn over the fake tunnel service, all on one
// virtual clock. The probe goes straight to the test service (no SOCKS entry), so a connect can
// succeed end to end.

#include "model/AppModel.h"
#include "platform/MainTask.h"
#include "support/ApiFixture.h"
#include "support/Drive.h"
#include "support/FakeDesktop.h"
#include "support/FakeExtensionManager.h"
#include "support/FakeTunnel.h"
#include "support/VirtualClock.h"
#include "tunnel/Vpn.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QSet>
#include <QStringList>
#include <memory>

namespace replies {

inline QJsonObject me(bool active = true) {
    return {{"email", "user@example.com"},
            {"active", active},
            {"expire_at", "2026-03-01T00:00:00Z"},
            {"devices_limit", 3},
            {"devices_used", 1},
            {"devices", QJsonArray{QJsonObject{{"hwid", "abc"}, {"model", "ThinkPad"}}}},
            {"trial_available", !active},
            {"promo_available", true},
            {"support_url", "https://t.me/vemko_support"}};
}

inline QJsonObject plans(int price = 299) {
    return {
        {"plans", QJsonArray{QJsonObject{{"code", "m1"}, {"days", 30}, {"devices", 3}, {"price", price}}}},
        {"payments", true},
        {"card", true},
        {"stripe_tiers", QJsonArray{QJsonObject{{"devices", 3}, {"monthly", 4.99}, {"yearly", 49.9}}}},
        {"stripe_trial_days", 3}};
}

inline QJsonObject referral(int invited = 2) {
    return {{"code", "ABC"},      {"link", "https://vemko.app/r/ABC"},
            {"invited", invited}, {"paid", 1},
            {"days", 10},         {"days_invite", 3},
            {"days_paid", 7},     {"days_friend", 3}};
}

inline QJsonObject version(qint64 code) {
    return {{"version_code", code},
            {"version_name", "1.3." + QString::number(code)},
            {"url", "https://vemko.app/u.zip"},
            {"notes", "Новое"}};
}

// A configs document with one server per name, in order.
inline QByteArray configs(const QStringList& names,
                          const QString& address = QStringLiteral("nl.example.net")) {
    QJsonArray document;
    for (const QString& name : names) {
        const QJsonObject entry{{"address", address}, {"port", 443}};
        const QJsonObject outbound{{"protocol", "vless"},
                                   {"settings", QJsonObject{{"vnext", QJsonArray{entry}}}}};
        document.append(QJsonObject{{"remarks", name}, {"outbounds", QJsonArray{outbound}}});
    }
    return QJsonDocument(document).toJson(QJsonDocument::Compact);
}

inline ScriptedReply refusal(int status, const QString& text, const QString& code = {}) {
    QJsonObject body{{"error", text}};
    if (!code.isEmpty())
        body.insert("code", code);
    return ScriptedReply::json(status, body);
}

} // namespace replies

struct ModelRig {
    static constexpr qint64 build = 42; // ApiFixture's bundle

    ModelRig() {
        lookupNetwork.setProxy(QNetworkProxy::NoProxy);
        service().on("GET", "/json", ScriptedReply::text(200, R"({"ip":"5.6.7.8","city":"Riga"})"));
        service().on("GET", "/api/v1/ip", ScriptedReply::text(200, R"({"exit":"203.0.113.7"})"));
    }

    TestService& service() { return api.service; }

    // The tunnel controller, made (and its saved configuration loaded) on first use: script the
    // fake tunnel service first.
    Vpn& tunnel() {
        if (!vpn) {
            vpn = std::make_unique<Vpn>(tunnels, extensions, api.store, clock, desktop, lookupNetwork,
                                        service().origin(), service().origin() + QStringLiteral("/json"),
                                        nullptr, QNetworkProxy(QNetworkProxy::NoProxy));
            settle();
        }
        return *vpn;
    }

    AppModel& make() {
        model = std::make_unique<AppModel>(api.api, api.store, api.keychain, tunnel(), clock);
        return *model;
    }

    // The whole account as an active (or inactive) subscriber sees it.
    void serveAccount(bool active = true,
                      const QByteArray& document = replies::configs({"Амстердам", "Рига"}),
                      qint64 version = build) {
        service().on("GET", "/api/v1/me", ScriptedReply::json(200, replies::me(active)));
        service().on("GET", "/api/v1/referral", ScriptedReply::json(200, replies::referral()));
        service().on("GET", "/api/v1/plans", ScriptedReply::json(200, replies::plans()));
        service().on("GET", "/api/v1/configs", ScriptedReply::text(200, document));
        service().on("GET", "/api/v1/app/version", ScriptedReply::json(200, replies::version(version)));
    }

    // The service paths the model asked for, in order, without their queries (the tunnel's own
    // probe and exit lookup left out).
    QStringList calls() {
        QStringList paths;
        for (const RecordedRequest& request : service().requests()) {
            const QString path = QString::fromUtf8(request.path).section(u'?', 0, 0);
            if (path.startsWith(QLatin1String("/api/v1/")) && path != QLatin1String("/api/v1/ip"))
                paths.append(path.mid(8));
        }
        return paths;
    }
    qsizetype count(const QString& call) { return calls().count(call); }
    // For failures the network stack may retry once (a reset connection).
    QSet<QString> distinctCalls() {
        const QStringList all = calls();
        return QSet<QString>(all.begin(), all.end());
    }

    // Runs a model operation to its end on the virtual clock.
    bool finish(QCoro::Task<> task) { return runTask(std::move(task), &clock); }

    // Lets queued work and pending replies run without moving the clock.
    void settle() {
        bool once = false;
        drive([&] { return std::exchange(once, true); });
    }

    std::optional<QString> stored(const QString& key) const { return api.defaults.string(key); }
    std::optional<QString> token() const { return api.keychain.read(QStringLiteral("token")); }

    ApiFixture api;
    VirtualClock clock;
    FakeTunnelSystem tunnels{clock};
    FakeExtensionManager extensions;
    FakeDesktop desktop;
    QNetworkAccessManager lookupNetwork;
    std::unique_ptr<Vpn> vpn;
    std::unique_ptr<AppModel> model; // last: goes first
};

inline QStringList names(const QList<ServerProfile>& profiles) {
    QStringList result;
    for (const ServerProfile& profile : profiles)
        result.append(profile.name);
    return result;
}
