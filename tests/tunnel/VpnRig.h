#pragma once

#include "device/Store.h"
#include "platform/Defaults.h"
#include "platform/MainTask.h"
#include "support/Drive.h"
#include "support/FakeDesktop.h"
#include "support/FakeDeviceFacts.h"
#include "support/FakeExtensionManager.h"
#include "support/FakeTunnel.h"
#include "support/TestService.h"
#include "support/VirtualClock.h"
#include "tunnel/TunnelNote.h"
#include "tunnel/Vpn.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QUuid>
#include <memory>

// A Vpn over fakes of the tunnel service and the extension manager, on a virtual clock, with the
// test service answering both the probe (sent straight to it, without the tunnel's SOCKS entry)
// and the exit-address lookup.
struct VpnRig {
    explicit VpnRig(bool preview = false)
        : store(defaults, facts, BundleInfo{QStringLiteral("1.0.0"), QStringLiteral("1"), preview}) {
        lookupNetwork.setProxy(QNetworkProxy::NoProxy);
        service.on("GET", "/json",
                   ScriptedReply::text(200, R"({"ip":"5.6.7.8","city":"Riga"})", "application/json"));
        service.on("GET", "/api/v1/ip", passing());
    }

    // Builds the controller (its start-up load included); call after scripting what loads.
    Vpn& make() {
        vpn = std::make_unique<Vpn>(tunnels, extensions, store, clock, desktop, lookupNetwork,
                                    service.origin(), service.origin() + QStringLiteral("/json"), nullptr,
                                    QNetworkProxy(QNetworkProxy::NoProxy));
        settle();
        return *vpn;
    }

    // Lets queued work run without moving the clock: until nothing happened for `quiet`.
    static void settle(std::chrono::milliseconds quiet = std::chrono::milliseconds(10)) { ::settle(quiet); }

    bool run(const std::function<bool()>& done,
             std::chrono::milliseconds watchdog = std::chrono::seconds(30)) {
        return drive(done, &clock, watchdog);
    }
    bool run(QCoro::Task<> task) { return runTask(std::move(task), &clock); }
    // Moves virtual time forward by `span` in small steps, letting everything due on the way happen.
    void advance(std::chrono::milliseconds span) {
        const auto step = std::max(std::chrono::milliseconds(100), span / 50);
        for (std::chrono::milliseconds moved(0); moved < span; moved += step) {
            settle(std::chrono::milliseconds(3));
            clock.advance(std::min(step, span - moved));
        }
        settle();
    }

    static ScriptedReply passing() {
        return ScriptedReply::text(200, R"({"exit":"203.0.113.7"})", "application/json");
    }
    static ScriptedReply failing() {
        return ScriptedReply::text(500, R"({"exit":"203.0.113.7"})", "application/json");
    }

    // A VMess server; `security` "reality" makes one that Debian's v2ray cannot run.
    static ServerProfile profile(const QString& name, const QString& security = QStringLiteral("none")) {
        const QJsonObject user{{"id", "2b4c3f5e-0b1a-4c0e-9a57-3d4f7c1d2e8a"}};
        const QJsonObject server{{"address", "vpn.example"}, {"port", 443}, {"users", QJsonArray{user}}};
        QJsonObject stream{{"security", security}};
        if (security == QLatin1String("reality"))
            stream.insert("realitySettings", QJsonObject{{"publicKey", "key"}});
        const QJsonObject outbound{{"protocol", "vmess"},
                                   {"settings", QJsonObject{{"vnext", QJsonArray{server}}}},
                                   {"streamSettings", stream}};
        return ServerProfile{QUuid::createUuid(), name,
                             QJsonObject{{"remarks", name}, {"outbounds", QJsonArray{outbound}}}};
    }

    std::optional<QString> stored(const QString& key) const { return defaults.string(key); }

    // A tunnel that an earlier run of the app brought up and proved through `server`.
    FakeTunnelConnection& preloadProven(const QString& server = QStringLiteral("Амстердам")) {
        FakeTunnelConnection& connection = *tunnels.preload().fakeConnection();
        connection.setStatus(TunnelStatus::Connected);
        tunnels.setSharedNote(TunnelNote::proof(server, connection.connectedDate(), clock.now()).toJson());
        return connection;
    }

    VirtualClock clock;
    FakeTunnelSystem tunnels{clock};
    FakeExtensionManager extensions;
    MemoryDefaults defaults;
    FakeDeviceFacts facts;
    Store store;
    FakeDesktop desktop;
    QNetworkAccessManager lookupNetwork;
    TestService service;
    std::unique_ptr<Vpn> vpn;
};
