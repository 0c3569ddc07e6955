#pragma once

// An AppModel against the test service and a real Vpn over the fake tunnel service, all on one
// virtual clock. The probe goes straight to the test service, so a connect can succeed end to end.

#include "model/AppModel.h"
#include "platform/MainTask.h"
#include "support/ApiFixture.h"
#include "support/Drive.h"
#include "support/FakeDesktop.h"
#include "support/FakeExtensionManager.h"
#include "support/FakeTunnel.h"
#include "support/VirtualClock.h"
#include "tunnel/Vpn.h"

#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QSet>
#include <QStringList>
#include <memory>

using namespace std::chrono_literals;

inline const QStringList fullLoad{"me", "referral", "plans", "configs", "app/version"};

inline ScriptedReply ok(const QString& json) {
    return ScriptedReply::text(200, json.toUtf8(), "application/json");
}

inline ScriptedReply refusal(int status, const QString& text, const QString& code = {}) {
    QJsonObject body{{"error", text}};
    if (!code.isEmpty())
        body.insert("code", code);
    return ScriptedReply::json(status, body);
}

inline ScriptedReply me(bool active = true) {
    return ok(QString(R"({"email":"u@example.com","active":%1,"expire_at":"2026-03-01T00:00:00Z",)"
                      R"("devices_limit":3,"devices_used":1,"devices":[{"hwid":"abc","model":"ThinkPad"}],)"
                      R"("trial_available":false,"promo_available":true,"support_url":"https://t.me/v"})")
                  .arg(active ? "true" : "false"));
}

inline ScriptedReply version(qint64 code) {
    return ok(QString(R"({"version_code":%1,"version_name":"1.3","url":"https://v.app/u.zip","notes":""})")
                  .arg(code));
}

// A configs document with one server per name, in order.
inline QByteArray configs(const QStringList& names,
                          const QString& address = QStringLiteral("nl.example.net")) {
    QStringList servers;
    for (const QString& name : names)
        servers.append(QString(R"({"remarks":"%1","outbounds":[{"protocol":"vless","settings":{"vnext":)"
                               R"([{"address":"%2","port":443,"users":[{"id":"2b4c3f5e-0b1a-4c0e-9a57-3d4f7c1d2e8a"}]}]}}]})")
                           .arg(name, address));
    return ('[' + servers.join(',') + ']').toUtf8();
}

struct ModelRig {
    static constexpr qint64 build = 42; // ApiFixture's bundle

    ModelRig() {
        lookupNetwork.setProxy(QNetworkProxy::NoProxy);
        service().on("GET", "/json", ok(R"({"ip":"5.6.7.8","city":"Riga"})"));
        service().on("GET", "/api/v1/ip", ok(R"({"exit":"203.0.113.7"})"));
    }

    TestService& service() { return api.service; }

    // Made (and its saved configuration loaded) on first use: script the fake tunnel service first.
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

    // A signed-in model with its first load done and its requests forgotten.
    AppModel& loaded(const QByteArray& document = configs({"Амстердам", "Рига"})) {
        serveAccount(true, document);
        make();
        api.signIn();
        finish(model->load());
        service().clearRequests();
        return *model;
    }

    void cache(const QByteArray& document) { api.defaults.setString("configs", QString::fromUtf8(document)); }

    // The whole account as an active (or inactive) subscriber sees it.
    void serveAccount(bool active = true, const QByteArray& document = configs({"Амстердам", "Рига"})) {
        service().on("GET", "/api/v1/me", me(active));
        service().on("GET", "/api/v1/referral",
                     ok(R"({"code":"ABC","link":"https://v.app/r/ABC","invited":2,"paid":1,"days":10,)"
                        R"("days_invite":3,"days_paid":7,"days_friend":3})"));
        service().on("GET", "/api/v1/plans",
                     ok(R"({"plans":[{"code":"m1","days":30,"devices":3,"price":299}],"payments":true,)"
                        R"("card":true,"stripe_tiers":[{"devices":3,"monthly":4.99,"yearly":49.9}],)"
                        R"("stripe_trial_days":3})"));
        service().on("GET", "/api/v1/configs", ScriptedReply::text(200, document));
        service().on("GET", "/api/v1/app/version", version(build));
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
    // For failures the network stack may resend a request once (a reset connection).
    QSet<QString> distinctCalls() {
        const QStringList all = calls();
        return QSet<QString>(all.begin(), all.end());
    }

    bool finish(QCoro::Task<> task) { return runTask(std::move(task), &clock); }

    // Lets queued work and pending replies run without moving the clock.
    void settle() { ::settle(); }

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

// A table's text column: empty means none.
inline std::optional<QString> maybe(const QString& value) {
    return value.isEmpty() ? std::nullopt : std::optional<QString>(value);
}
