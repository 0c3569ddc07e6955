#include "VpnRig.h"
#include "service/Errors.h"
#include "tunnel/ServerCheck.h"
#include "tunnel/TunnelConfig.h"

#include <QJsonDocument>
#include <QTest>

namespace {

QJsonObject parsed(const QString& text) {
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

// The SOCKS entry for Debian's v2ray, which has no "quic" sniffing.
const QJsonObject expectedInbound{
    {"tag", "socks"},
    {"port", 10808},
    {"listen", "127.0.0.1"},
    {"protocol", "socks"},
    {"settings", QJsonObject{{"udp", true}, {"auth", "noauth"}}},
    {"sniffing",
     QJsonObject{{"enabled", true}, {"routeOnly", false}, {"destOverride", QJsonArray{"http", "tls"}}}},
};

const engine::EngineInfo v2ray = *engine::identify("V2Ray 4.34.0 (V2Fly)");

} // namespace

class TestTunnelConfig : public QObject {
    Q_OBJECT
private slots:
    void documentReplacesInboundsAndLogAndDropsRemarks() {
        ServerProfile profile = VpnRig::profile("Европа 1");
        profile.config.insert("inbounds", QJsonArray{QJsonObject{{"port", 1080}, {"listen", "0.0.0.0"}}});
        profile.config.insert("log", QJsonObject{{"loglevel", "debug"}, {"access", "/tmp/a"}});
        const QString text = makeConfig(profile, v2ray);
        const QJsonObject document = parsed(text);

        QCOMPARE(document.value("inbounds"), QJsonValue(QJsonArray{expectedInbound}));
        QCOMPARE(document.value("log"), QJsonValue(QJsonObject{{"access", "none"}, {"loglevel", "warning"}}));
        QVERIFY(!document.contains("remarks"));
        QCOMPARE(document["outbounds"][0]["settings"], profile.config["outbounds"][0]["settings"]);
        QVERIFY2(!text.contains('\n'), "written compactly");
    }

    // A server the engine cannot run is never started: the error names it and says why.
    void serverTheEngineCannotRunStartsNothing() {
        QVERIFY_THROWS_EXCEPTION(Fail, makeConfig(ServerProfile{QUuid::createUuid(), "Сервер", {}}, v2ray));
        VpnRig rig;
        Vpn& vpn = rig.make();
        const ServerProfile reality = VpnRig::profile("Нидерланды", "reality");
        vpn.setProfiles({reality, VpnRig::profile("Берлин")});
        QCOMPARE(vpn.unusableReason("Нидерланды"), std::optional<QString>("нужен Xray: REALITY"));
        QVERIFY(rig.run(vpn.connect(reality)));
        QCOMPARE(vpn.error(),
                 std::optional<QString>("«Нидерланды» не запустить на этом компьютере: нужен Xray: REALITY"));
        QCOMPARE(vpn.status(), VpnStatus::Off);
        QCOMPARE(rig.tunnels.created, 0);
        // Fail-over passes it by without trying it.
        rig.tunnels.connectAfterByServer["Берлин"] = std::nullopt;
        QVERIFY(rig.run(vpn.connect(VpnRig::profile("Берлин"))));
        QCOMPARE(rig.tunnels.connection()->starts.size(), 1);
    }

    // A fresh configuration is created, saved and started with the same document.
    // The direct look at a server goes where the engine will: the proxy outbound as the
    // allow-list reads it, not whatever the entry lists first.
    void serverEndpointIsTheProxyOutbounds_data() {
        QTest::addColumn<QString>("outbounds");
        QTest::addColumn<QString>("endpoint"); // "" : none
        QTest::newRow("vmess") << R"([{"protocol":"vmess","settings":{"vnext":[{"address":"a.example",)"
                                  R"("port":443,"users":[{"id":"0b8f8a1e-8c2f-4c39-9a7e-3f1d2c4b5a6e"}]}]}}])"
                               << "a.example:443";
        QTest::newRow("trojan after a direct outbound")
            << R"([{"protocol":"freedom","tag":"direct"},{"protocol":"trojan","settings":{"servers":[)"
               R"({"address":"10.0.0.7","port":8443,"password":"p"}]}}])"
            << "10.0.0.7:8443";
        QTest::newRow("port as text, as the engine reads it")
            << R"([{"protocol":"trojan","settings":{"servers":[{"address":"h","port":"443","password":"p"}]}}])"
            << "h:443";
        QTest::newRow("no proxy") << R"([{"protocol":"freedom"}])"
                                  << "";
    }
    void serverEndpointIsTheProxyOutbounds() {
        QFETCH(QString, outbounds);
        QFETCH(QString, endpoint);
        const auto found =
            serverEndpoint(QJsonObject{{"outbounds", QJsonDocument::fromJson(outbounds.toUtf8()).array()}});
        QCOMPARE(found ? QString("%1:%2").arg(found->host).arg(found->port) : QString(), endpoint);
    }

    void firstConnectCreatesTheSavedConfiguration() {
        VpnRig rig;
        Vpn& vpn = rig.make();
        const ServerProfile server = VpnRig::profile("Амстердам");
        QVERIFY(rig.run(vpn.connect(server)));

        QCOMPARE(rig.tunnels.created, 1);
        QVERIFY(rig.tunnels.saved() && rig.tunnels.saved()->protocolConfiguration);
        const TunnelProtocol& protocol = *rig.tunnels.saved()->protocolConfiguration;
        QCOMPARE(protocol.serverAddress, QString("Амстердам"));
        const QString document = makeConfig(server, v2ray);
        QCOMPARE(protocol.providerConfiguration,
                 (QJsonObject{{"config", document}, {"server", "Амстердам"}}));
        QCOMPARE(rig.tunnels.connection()->starts, (QList<QJsonObject>{QJsonObject{{"config", document}}}));
    }

    // A refused save keeps the configuration in use: its tunnel is the one the status reads, and
    // the one stopped, since nothing runs while the tunnel reads as off.
    void refusedSaveKeepsTheManagerInUse() {
        VpnRig rig;
        Vpn& vpn = rig.make();
        QVERIFY(rig.run(vpn.connect(VpnRig::profile("Берлин"))));
        rig.tunnels.saveError = "Permission denied";
        QVERIFY(rig.run(vpn.connect(VpnRig::profile("Амстердам"))));

        QCOMPARE(vpn.error(), std::optional<QString>("Разрешите Вемко добавить настройки VPN и повторите"));
        QCOMPARE(vpn.status(), VpnStatus::Off);
        QCOMPARE(rig.tunnels.connection()->starts.size(), 1);
        QCOMPARE(rig.tunnels.connection()->stops, 1);

        rig.tunnels.saveError.clear(); // the one saved configuration is rewritten, not added to
        QVERIFY(rig.run(vpn.connect(VpnRig::profile("Амстердам"))));
        QCOMPARE(rig.tunnels.created, 1);
        QCOMPARE(rig.tunnels.saved()->protocolConfiguration->serverAddress, QString("Амстердам"));
    }
};

QTEST_GUILESS_MAIN(TestTunnelConfig)
#include "tst_tunnel_config.moc"
