// What vemko-netd decides without root: the LAN it leaves direct, read from the routing table, and
// the engine document it builds from the caller's.
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
    void localNetworksAreOnLinkRoutesOfRealInterfaces_data() {
        QTest::addColumn<QByteArray>("routes");
        QTest::addColumn<QStringList>("lan");
        QTest::newRow("default via gateway and its subnet")
            << header + "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\n"
                        "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\n"
            << QStringList{"192.0.2.0/24"};
        QTest::newRow("a default route without gateway is not a LAN")
            << header + "ppp0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\n"
            << QStringList{};
        QTest::newRow("loopback, down routes and duplicates left out")
            << header + "lo\t0000007F\t00000000\t0001\t0\t0\t0\t000000FF\n"
                        "eth1\t0000A8C0\t00000000\t0000\t0\t0\t0\t0000FFFF\n"
                        "eth0\t00C9000A\t00000000\t0001\t0\t0\t0\t00FFFFFF\n"
                        "eth2\t00C9000A\t00000000\t0001\t0\t0\t100\t00FFFFFF\n"
            << QStringList{"10.0.201.0/24"};
        QTest::newRow("garbage lines") << header + "eth0 zz yy\n\n" << QStringList{};
    }
    void localNetworksAreOnLinkRoutesOfRealInterfaces() {
        QFETCH(QByteArray, routes);
        QFETCH(QStringList, lan);
        QStringList found;
        for (const std::string& subnet : netd::localNetworks(routes.toStdString()))
            found << QString::fromStdString(subnet);
        QCOMPARE(found, lan);
    }

    void theEngineDocumentGainsTheCaptureInboundsAndLosesFiles() {
        const QJsonObject document = built(minimal);
        const QJsonArray inbounds = document.value("inbounds").toArray();
        QCOMPARE(inbounds.size(), 3);
        for (const auto inbound : inbounds)
            QCOMPARE(inbound.toObject().value("listen").toString(), QStringLiteral("127.0.0.1"));
        QCOMPARE(inbounds[1].toObject().value("port").toInt(), netd::redirectPort);
        QCOMPARE(inbounds[2].toObject().value("port").toInt(), netd::dnsPort);
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
