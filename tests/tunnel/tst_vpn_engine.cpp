// Vpn over the real Linux tunnel platform, vemko-tunnel and the v2ray engine, all on loopback.
#include "device/Store.h"
#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "platform/LinuxExtensionManager.h"
#include "platform/LinuxTunnelSystem.h"
#include "platform/TunnelHostState.h"
#include "support/Drive.h"
#include "support/FakeDesktop.h"
#include "support/FakeDeviceFacts.h"
#include "support/TestService.h"
#include "tunnel-host/EngineFixture.h"
#include "tunnel/Vpn.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace engine_fixture;
using namespace std::chrono_literals;

class TestVpnEngine : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QString m_host;
    std::unique_ptr<V2rayServer> m_server;
    std::unique_ptr<TestService> m_service;
    std::unique_ptr<LinuxTunnelSystem> m_system;
    std::unique_ptr<LinuxExtensionManager> m_extensions;
    std::unique_ptr<MemoryDefaults> m_defaults;
    FakeDeviceFacts m_facts;
    std::unique_ptr<Store> m_store;
    FakeDesktop m_desktop;
    QNetworkAccessManager m_lookup;
    SystemClock m_clock;
    std::unique_ptr<Vpn> m_vpn;

    QString runtimeDir() const { return m_home.path() + "/run/vemko-vpn"; }

private slots:
    void initTestCase() {
        if (QStandardPaths::findExecutable("v2ray").isEmpty())
            QSKIP("the v2ray engine is not installed");
        m_host = qEnvironmentVariable("VEMKO_BUILD_DIR") + "/bin/vemko-tunnel";
        QVERIFY2(QFileInfo(m_host).isExecutable(), qPrintable(m_host));
        QVERIFY(m_home.isValid());
        QDir(m_home.path()).mkpath("run");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_home.path() + "/run"));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path() + "/config"));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_home.path() + "/cache"));
        qputenv("VEMKO_TUNNEL_HOST", QFile::encodeName(m_host));
        m_server = std::make_unique<V2rayServer>();
        QTRY_VERIFY_WITH_TIMEOUT(m_server->ready(), 20000);
    }

    void init() {
        QVERIFY2(!portAccepts(10808), "port 10808 is in use by something else");
        m_service = std::make_unique<TestService>();
        m_service->on("GET", "/api/v1/ip",
                      ScriptedReply::text(200, R"({"exit":"127.0.0.1"})", "application/json"));
        m_service->on("GET", "/json", ScriptedReply::text(200, R"({"ip":"127.0.0.1","city":"Loopback"})"));
        m_system = std::make_unique<LinuxTunnelSystem>(
            m_host, m_home.path() + "/config/vemko-vpn/tunnel.json", runtimeDir());
        m_extensions = std::make_unique<LinuxExtensionManager>(m_host);
        m_defaults = std::make_unique<MemoryDefaults>();
        m_store = std::make_unique<Store>(*m_defaults, m_facts);
        // The lookup's host resolves only at the far end: the exit address shows only when the
        // lookup travels through the tunnel, as it must (the tunnel is a SOCKS entry, not a route).
        const QString ipinfoUrl =
            QStringLiteral("http://%1:%2/json").arg(V2rayServer::tunnelOnlyHost).arg(m_service->port());
        m_vpn = std::make_unique<Vpn>(*m_system, *m_extensions, *m_store, m_clock, m_desktop, m_lookup,
                                      m_service->origin(), ipinfoUrl);
    }

    void cleanup() {
        if (m_vpn)
            m_vpn->disconnect();
        if (m_system)
            QTRY_VERIFY_WITH_TIMEOUT(!HostFiles::hostRunning(runtimeDir()), 20000);
        m_vpn.reset();
        m_extensions.reset();
        m_system.reset();
        m_service.reset();
    }

    // The first candidate starts but carries nothing; the tunnel falls over to the second.
    void failsOverToTheServerThatCarriesTraffic() {
        const ServerProfile dead = serverAt("Европа 1", freePort(), m_server->uuid());
        const ServerProfile live = serverAt("Европа авто", m_server->port(), m_server->uuid());
        m_vpn->setProfiles({dead, live});
        QStringList names;
        QList<VpnStatus> statuses;
        QObject scope; // the recording ends with this test
        connect(m_vpn.get(), &Vpn::profileNameChanged, &scope,
                [&] { names << m_vpn->profileName().value_or(""); });
        connect(m_vpn.get(), &Vpn::statusChanged, &scope, [&] { statuses << m_vpn->status(); });

        QVERIFY(runTask(m_vpn->connect(dead), nullptr, 90s));
        QCOMPARE(names, (QStringList{"Европа 1", "пробую: Европа авто", "Европа авто"}));
        QCOMPARE(statuses, (QList<VpnStatus>{VpnStatus::Connecting, VpnStatus::On})); // on once proven
        QCOMPARE(m_vpn->status(), VpnStatus::On);
        QCOMPARE(m_vpn->profileName(), std::optional<QString>("Европа авто"));
        QCOMPARE(m_vpn->error(), std::nullopt);
        QCOMPARE(m_defaults->string("lastGood"), std::optional<QString>("Европа авто"));
        QCOMPARE(m_defaults->boolean("was_connected"), std::optional(true));
        QCOMPARE(m_service->requests("GET", "/api/v1/ip").size(), 1); // only the live one got through
        QVERIFY(m_vpn->since());
        QTRY_COMPARE_WITH_TIMEOUT(m_vpn->exit(), std::optional<QString>("Loopback · 127.0.0.1"), 20000);

        const qint64 host = HostFiles::readState(runtimeDir()).value_or(HostState{}).pid;
        const QList<qint64> engines = childProcesses(host);
        QCOMPARE(engines.size(), 1);

        m_vpn->disconnect();
        QCOMPARE(m_vpn->status(), VpnStatus::Off);
        QTRY_VERIFY_WITH_TIMEOUT(processGone(host), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(processGone(engines[0]), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(m_system->connection().status(), TunnelStatus::Disconnected, 20000);
        QCOMPARE(m_vpn->status(), VpnStatus::Off);
        QCOMPARE(m_defaults->boolean("was_connected"), std::optional(false));
        QVERIFY(!portAccepts(10808));
    }

    // A REALITY server cannot run on v2ray: connecting to it starts nothing and sends nothing to it,
    // and fail-over passes it by to a server that runs, whose geoip:private rule v2ray runs too.
    void neverRunsAServerWeakerThanWritten() {
        QTcpServer realityServer;
        QVERIFY(realityServer.listen(QHostAddress::LocalHost));
        ServerProfile reality = serverAt("Нидерланды", realityServer.serverPort(), m_server->uuid());
        QJsonObject outbound = reality.config["outbounds"][0].toObject();
        outbound.insert(
            "streamSettings",
            QJsonObject{{"security", "reality"}, {"realitySettings", QJsonObject{{"publicKey", "key"}}}});
        reality.config.insert("outbounds", QJsonArray{outbound});
        ServerProfile live = serverAt("Европа авто", m_server->port(), m_server->uuid());
        QJsonObject proxy = live.config["outbounds"][0].toObject();
        proxy.insert("tag", "proxy");
        live.config.insert("outbounds",
                           QJsonArray{proxy, QJsonObject{{"tag", "direct"}, {"protocol", "freedom"}}});
        live.config.insert("routing",
                           QJsonObject{{"rules", QJsonArray{QJsonObject{{"type", "field"},
                                                                        {"ip", QJsonArray{"geoip:private"}},
                                                                        {"outboundTag", "direct"}}}}});
        m_vpn->setProfiles({reality, live});

        QVERIFY(runTask(m_vpn->connect(reality), nullptr, 30s));
        QCOMPARE(m_vpn->error(), "«Нидерланды» не запустить на этом компьютере: нужен Xray: REALITY");
        QVERIFY(!HostFiles::hostRunning(runtimeDir()));

        QVERIFY(runTask(m_vpn->connect(live), nullptr, 90s));
        QCOMPARE(m_vpn->status(), VpnStatus::On);
        QCOMPARE(m_vpn->profileName(), std::optional<QString>("Европа авто"));
        QVERIFY(!realityServer.hasPendingConnections() && !realityServer.waitForNewConnection(500));
    }

    // A lone server that carries nothing, or an engine that cannot start (someone else holds the
    // SOCKS port): the attempt ends with a message, and nothing of it keeps running.
    void failedLoneServerLeavesNothingRunning_data() {
        QTest::addColumn<bool>("portTaken");
        QTest::newRow("dead server") << false;
        QTest::newRow("port taken") << true;
    }
    void failedLoneServerLeavesNothingRunning() {
        QFETCH(bool, portTaken);
        QTcpServer holder;
        if (portTaken)
            QVERIFY(holder.listen(QHostAddress::LocalHost, 10808));
        QElapsedTimer took;
        took.start();
        const quint16 port = portTaken ? m_server->port() : freePort();
        QVERIFY(runTask(m_vpn->connect(serverAt("Амстердам", port, m_server->uuid())), nullptr, 60s));
        qInfo("the candidate failed after %lld ms", took.elapsed());

        QCOMPARE(m_vpn->status(), VpnStatus::Off);
        QVERIFY(m_vpn->error().has_value());
        QCOMPARE(m_defaults->string("lastGood"), std::nullopt);
        QTRY_VERIFY_WITH_TIMEOUT(!HostFiles::hostRunning(runtimeDir()), 20000);
        const qint64 host = HostFiles::readState(runtimeDir()).value_or(HostState{}).pid;
        // The lock goes with the host's last steps; the process itself may take a moment more.
        QTRY_VERIFY_WITH_TIMEOUT(host == 0 || (processGone(host) && childProcesses(host).isEmpty()), 20000);
        QCOMPARE(holder.isListening(), portTaken);
        if (!portTaken)
            QTRY_VERIFY_WITH_TIMEOUT(!portAccepts(10808), 20000);
    }

    // The server dies under a running tunnel. The user's next requests fail, the engine says so,
    // two proofs fail, and the tunnel moves to the next server by itself.
    void killedServerIsReplaced() {
        auto first = std::make_unique<V2rayServer>();
        QTRY_VERIFY_WITH_TIMEOUT(first->ready(), 20000);
        const ServerProfile dying = serverAt("Европа 1", first->port(), first->uuid());
        const ServerProfile next = serverAt("Европа авто", m_server->port(), m_server->uuid());
        m_vpn->setProfiles({dying, next});
        QVERIFY(runTask(m_vpn->connect(dying), nullptr, 60s));
        QCOMPARE(m_vpn->status(), VpnStatus::On);
        QSignalSpy switched(m_vpn.get(), &Vpn::switchedServer);
        QList<VpnStatus> statuses;
        QObject scope; // the recording ends with this test
        connect(m_vpn.get(), &Vpn::statusChanged, &scope, [&] { statuses << m_vpn->status(); });

        first.reset();
        QElapsedTimer took;
        took.start();
        QVERIFY(getThroughTunnel(QUrl(m_service->origin() + "/api/v1/ip")).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(switched.size(), 1, 60000);
        qInfo("replaced %lld ms after the server died", took.elapsed());
        QCOMPARE(switched.first().first().toString(), next.name);
        QCOMPARE(m_vpn->status(), VpnStatus::On);
        QCOMPARE(m_vpn->profileName(), std::optional(next.name));
        QCOMPARE(statuses, (QList<VpnStatus>{VpnStatus::Connecting, VpnStatus::On}));
        QVERIFY(!getThroughTunnel(QUrl(m_service->origin() + "/api/v1/ip")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestVpnEngine)
#include "tst_vpn_engine.moc"
