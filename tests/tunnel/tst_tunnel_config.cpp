#include "VpnRig.h"
#include "tunnel/TunnelConfig.h"

#include <QJsonDocument>
#include <QTest>

namespace {

QJsonObject parsed(const QString& text) {
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

const QJsonObject expectedInbound{
    {"tag", "socks"},
    {"port", 10808},
    {"listen", "127.0.0.1"},
    {"protocol", "socks"},
    {"settings", QJsonObject{{"udp", true}, {"auth", "noauth"}}},
    {"sniffing", QJsonObject{{"enabled", true},
                             {"routeOnly", false},
                             {"destOverride", QJsonArray{"http", "tls", "quic"}}}},
};

} // namespace

class TestTunnelConfig : public QObject {
    Q_OBJECT
private slots:
    void documentReplacesInboundsAndLogAndDropsRemarks() {
        const QJsonObject config{
            {"remarks", "Европа 1"},
            {"inbounds", QJsonArray{QJsonObject{{"port", 1080}}, QJsonObject{{"port", 1081}}}},
            {"log", QJsonObject{{"loglevel", "debug"}, {"access", "/tmp/a"}}},
            {"outbounds", QJsonArray{QJsonObject{{"protocol", "vless"}, {"tag", "proxy"}}}},
            {"routing", QJsonObject{{"domainStrategy", "IPIfNonMatch"}}},
            {"dns", QJsonObject{{"servers", QJsonArray{"1.1.1.1"}}}},
            {"big", QJsonValue(qint64(9007199254740993LL))},
        };
        const QString text = makeConfig(ServerProfile{QUuid::createUuid(), "Европа 1", config});
        const QJsonObject document = parsed(text);

        QCOMPARE(document.value("inbounds"), QJsonValue(QJsonArray{expectedInbound}));
        QCOMPARE(document.value("log"), QJsonValue(QJsonObject{{"loglevel", "warning"}}));
        QVERIFY(!document.contains("remarks"));
        for (const char* untouched : {"outbounds", "routing", "dns"})
            QCOMPARE(document.value(untouched), config.value(untouched));
        QVERIFY2(text.contains("9007199254740993"), "large integers pass through exactly");
        QCOMPARE(document.size(), 6);
        QVERIFY2(!text.contains('\n'), "written compactly");
        // Nothing requires outbounds.
        QCOMPARE(parsed(makeConfig(ServerProfile{QUuid::createUuid(), "Сервер", {}})).keys(),
                 (QStringList{"inbounds", "log"}));
    }

    // A fresh configuration is created, saved and started with the same document.
    void firstConnectCreatesTheSavedConfiguration() {
        VpnRig rig;
        Vpn& vpn = rig.make();
        const ServerProfile server = VpnRig::profile("Амстердам");
        QVERIFY(rig.run(vpn.connect(server)));

        QCOMPARE(rig.tunnels.created, 1);
        QVERIFY(rig.tunnels.saved() && rig.tunnels.saved()->protocolConfiguration);
        const TunnelProtocol& protocol = *rig.tunnels.saved()->protocolConfiguration;
        QCOMPARE(protocol.serverAddress, QString("Амстердам"));
        const QString document = makeConfig(server);
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
