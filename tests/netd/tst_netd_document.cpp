// What vemko-netd decides without root: the LAN it leaves direct and the engine document it builds
// from the caller's.
#include "netd/Document.h"
#include "netd/LocalNetworks.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

// JSON written with single quotes, readable inside C++ strings.
QByteArray json(const char* text) {
    return QByteArray(text).replace('\'', '"');
}

const QByteArray header =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

const engine::EngineInfo v2ray = *engine::identify("V2Ray 4.34.0 (V2Fly)");

QJsonObject built(const QByteArray& caller) {
    const auto result = netd::engineDocument(caller.toStdString(), v2ray);
    const auto* text = std::get_if<std::string>(&result);
    return text ? QJsonDocument::fromJson(QByteArray::fromStdString(*text)).object() : QJsonObject();
}

const QByteArray minimal = json("{'inbounds':[{'tag':'socks','listen':'0.0.0.0','port':10808,"
                                "'protocol':'socks'}],'outbounds':[{'protocol':'vmess','settings':{'vnext':"
                                "[{'address':'a.example','port':1,'users':[{'id':'u'}]}]}}],"
                                "'log':{'access':'/etc/passwd'},'api':{'tag':'api'}}");

} // namespace

class NetdDocument : public QObject {
    Q_OBJECT

private slots:
    // The interfaces' own subnets, never a route (a DHCP server can push any on-link route), never
    // anything public, merged so the set always builds.
    void localNetworksAreTheInterfacesPrivateSubnets_data() {
        QTest::addColumn<QStringList>("addresses"); // "interface address/prefix"
        QTest::addColumn<QStringList>("lan");
        QTest::newRow("private only") << QStringList{"eth0 192.168.1.20/24", "wlan0 100.64.3.4/10",
                                                     "tun0 203.0.113.5/24", "lo 127.0.0.1/8"}
                                      << QStringList{"192.168.1.0/24"};
        QTest::newRow("overlapping subnets merged")
            << QStringList{"eth0 10.201.0.2/24", "eth0 10.1.2.3/8", "virbr0 192.168.122.1/24",
                           "docker0 192.168.0.1/16", "eth1 192.168.1.7/24"}
            << QStringList{"10.0.0.0/8", "192.168.0.0/16"};
        QTest::newRow("wider than a private range: the range")
            << QStringList{"eth0 172.0.0.5/8"} << QStringList{"172.16.0.0/12"};
        QTest::newRow("nonsense") << QStringList{"eth0 10.0.0.1/33", "eth0 10.0.0.1", "eth0 x/8"}
                                  << QStringList{};
    }
    void localNetworksAreTheInterfacesPrivateSubnets() {
        QFETCH(QStringList, addresses);
        QFETCH(QStringList, lan);
        std::vector<netd::InterfaceAddress> given;
        for (const QString& address : addresses)
            given.push_back(
                {address.section(' ', 0, 0).toStdString(), address.section(' ', 1).toStdString()});
        QStringList found;
        for (const std::string& subnet : netd::localNetworks(given))
            found << QString::fromStdString(subnet);
        QCOMPARE(found, lan);
    }

    void uplinksCarryADefaultRoute() {
        const QByteArray routes = header + "eth0\t00000000\t010200C0\t0003\t0\t0\t100\t00000000\n"
                                           "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\n"
                                           "wlan0\t00000000\t010200C0\t0003\t0\t0\t600\t00000000\n"
                                           "x\"y\t00000000\t010200C0\t0003\t0\t0\t600\t00000000\n"
                                           "garbage\n";
        std::vector<std::string> expected{"eth0", "wlan0"};
        QVERIFY(netd::uplinks(routes.toStdString()) == expected);
    }

    void theEngineDocumentGainsTheCaptureInboundsAndLosesFiles() {
        const QJsonObject document = built(minimal);
        const QJsonArray inbounds = document.value("inbounds").toArray();
        QCOMPARE(inbounds.size(), 3);
        for (const auto inbound : inbounds)
            QCOMPARE(inbound.toObject().value("listen").toString(), QStringLiteral("127.0.0.1"));
        QCOMPARE(inbounds[1].toObject().value("port").toInt(), netd::preferredPorts.redirect);
        QCOMPARE(inbounds[2].toObject().value("port").toInt(), netd::preferredPorts.dns);
        // DNS leaves through the proxy outbound, which got a tag to be named by.
        const QJsonArray outbounds = document.value("outbounds").toArray();
        const QString proxyTag = outbounds[0].toObject().value("tag").toString();
        QVERIFY(!proxyTag.isEmpty());
        QCOMPARE(outbounds.last().toObject().value("proxySettings").toObject().value("tag").toString(),
                 proxyTag);
        QCOMPARE(
            document.value("routing").toObject().value("rules").toArray()[1].toObject().value("outboundTag"),
            outbounds.last().toObject().value("tag"));
        QCOMPARE(document.value("log").toObject(),
                 (QJsonObject{{"access", "none"}, {"loglevel", "warning"}}));
        QVERIFY(!document.contains("api"));
    }

    void capturedDnsGoesToTheDocumentsResolver_data() {
        QTest::addColumn<QByteArray>("dns");
        QTest::addColumn<QString>("resolver");
        QTest::newRow("first IPv4 server")
            << json("{'servers':['localhost','2001:db8::1','9.9.9.9']}") << "9.9.9.9";
        QTest::newRow("server object") << json("{'servers':[{'address':'8.8.4.4'}]}") << "8.8.4.4";
        QTest::newRow("only names") << json("{'servers':['https://dns.example/q']}") << "1.1.1.1";
        QTest::newRow("none") << QByteArray("null") << "1.1.1.1";
    }
    void capturedDnsGoesToTheDocumentsResolver() {
        QFETCH(QByteArray, dns);
        QFETCH(QString, resolver);
        QByteArray caller = minimal;
        caller.insert(caller.lastIndexOf('}'), ",\"dns\":" + dns);
        const QJsonObject document = built(caller);
        QCOMPARE(document.value("inbounds")
                     .toArray()[2]
                     .toObject()
                     .value("settings")
                     .toObject()
                     .value("address")
                     .toString(),
                 resolver);
    }
};

QTEST_GUILESS_MAIN(NetdDocument)
#include "tst_netd_document.moc"
