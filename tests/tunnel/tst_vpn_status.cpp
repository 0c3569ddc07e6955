#include "VpnRig.h"

#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

// The status sync and the exit-address lookup it starts.
class TestVpnStatus : public QObject {
    Q_OBJECT

    // A controller over a tunnel an earlier run brought up and proved.
    static Vpn& madeConnected(VpnRig& rig) {
        rig.preloadProven();
        return rig.make();
    }
    // Until the exit lookup has made `attempts` requests and the last one has ended.
    static void finishLookup(VpnRig& rig, int attempts = 1) {
        rig.run([&] { return rig.service.requests("GET", "/json").size() >= attempts; });
        rig.advance(13s);
    }
    static void recordTimes(VpnRig& rig, QList<qint64>& at) {
        const QDateTime start = rig.clock.now();
        QObject::connect(
            &rig.service, &TestService::requestReceived, &rig.service,
            [&rig, &at, start](const RecordedRequest&) { at.append(start.msecsTo(rig.clock.now())); });
    }

private slots:
    void table_data() {
        QTest::addColumn<TunnelStatus>("platform");
        QTest::addColumn<VpnStatus>("shown");
        QTest::addColumn<bool>("keepsSinceAndExit");
        QTest::newRow("invalid") << TunnelStatus::Invalid << VpnStatus::Off << false;
        QTest::newRow("disconnected") << TunnelStatus::Disconnected << VpnStatus::Off << false;
        QTest::newRow("disconnecting") << TunnelStatus::Disconnecting << VpnStatus::Off << false;
        QTest::newRow("connecting") << TunnelStatus::Connecting << VpnStatus::Connecting << true;
        QTest::newRow("reasserting") << TunnelStatus::Reasserting << VpnStatus::Connecting << true;
        QTest::newRow("connected again") << TunnelStatus::Connected << VpnStatus::On << true;
        // Without a configuration's connection: off, the clock and the address untouched.
        QTest::newRow("no connection") << TunnelStatus::Invalid << VpnStatus::Off << true;
    }
    // From a running tunnel with its exit address shown, to each platform state.
    void table() {
        QFETCH(TunnelStatus, platform);
        QFETCH(VpnStatus, shown);
        QFETCH(bool, keepsSinceAndExit);
        VpnRig rig;
        Vpn& vpn = madeConnected(rig);
        finishLookup(rig);
        QCOMPARE(vpn.exit(), std::optional<QString>("Riga · 5.6.7.8"));
        const auto since = vpn.since();
        QSignalSpy sinceChanges(&vpn, &Vpn::sinceChanged);
        rig.clock.advance(1min);
        if (QByteArray(QTest::currentDataTag()) == "no connection")
            rig.tunnels.saved()->forgetConnection();
        else if (platform != TunnelStatus::Connected)
            rig.tunnels.connection()->setStatus(platform);
        vpn.syncStatus();
        finishLookup(rig);
        QCOMPARE(vpn.status(), shown);
        QCOMPARE(vpn.since().has_value(), keepsSinceAndExit);
        QCOMPARE(vpn.exit().has_value(), keepsSinceAndExit);
        QCOMPARE(sinceChanges.size(), keepsSinceAndExit ? 0 : 1);
        QCOMPARE(rig.service.requests("GET", "/json").size(), 1); // connected again: no second lookup
    }

    // Each notification leads to a sync. A tunnel found connected that no run of the app proved
    // (the process that started it ended) reads as connecting until it is proved: then it is on
    // since it connected; when it carries nothing it is stopped.
    void unprovenTunnelIsProvedOrStopped_data() {
        QTest::addColumn<bool>("carries");
        QTest::newRow("carries traffic") << true;
        QTest::newRow("carries nothing") << false;
    }
    void unprovenTunnelIsProvedOrStopped() {
        QFETCH(bool, carries);
        VpnRig rig;
        if (!carries)
            rig.service.on("GET", "/api/v1/ip", VpnRig::failing());
        auto& connection = *rig.tunnels.preload().fakeConnection();
        Vpn& vpn = rig.make();
        QSignalSpy statuses(&vpn, &Vpn::statusChanged);
        connection.setStatus(TunnelStatus::Connecting);
        QCOMPARE(vpn.status(), VpnStatus::Off); // scheduled, not run inside the notification
        rig.settle();
        QCOMPARE(vpn.status(), VpnStatus::Connecting);
        const QDateTime connectedAt = rig.clock.now();
        connection.setStatus(TunnelStatus::Connected);
        QVERIFY(rig.run([&] { return vpn.status() != VpnStatus::Connecting; }));
        QCOMPARE(vpn.status(), carries ? VpnStatus::On : VpnStatus::Off);
        QCOMPARE(statuses.size(), 2); // never on before the proof
        QCOMPARE(vpn.since(), carries ? std::optional(connectedAt) : std::nullopt);
        QCOMPARE(connection.stops, carries ? 0 : 1);
        QCOMPARE(vpn.error().has_value(), !carries);
    }

    // Another process of the app connects: this one shows the server it tries, then the proven
    // tunnel with the same connected clock, then off when it disconnects.
    void anotherProcessesConnectShowsHere() {
        VpnRig rig;
        Vpn& other = rig.make();
        Vpn here(rig.tunnels, rig.extensions, rig.store, rig.clock, rig.desktop, rig.lookupNetwork,
                 rig.service.origin(), rig.service.origin() + "/json", nullptr, QNetworkProxy::NoProxy);
        QStringList seen; // here, when the other's probe arrives
        connect(&rig.service, &TestService::requestReceived, &here, [&](const RecordedRequest& request) {
            if (request.path == "/api/v1/ip")
                seen << QVariant::fromValue(here.status()).toString() + " " +
                            here.profileName().value_or("-");
        });
        QVERIFY(rig.run(other.connect(VpnRig::profile("Амстердам"))));
        rig.settle();
        QCOMPARE(seen, QStringList{"Connecting Амстердам"});
        QCOMPARE(here.status(), VpnStatus::On);
        QCOMPARE(here.since(), other.since());
        other.disconnect();
        QVERIFY(rig.run([&] { return here.status() == VpnStatus::Off; }));
    }

    void exitTexts_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("shown");
        QTest::newRow("city and ip") << QByteArray(R"({"ip":"5.6.7.8","city":"Riga"})") << "Riga · 5.6.7.8";
        QTest::newRow("no city") << QByteArray(R"({"ip":"5.6.7.8"})") << "5.6.7.8";
        QTest::newRow("empty city") << QByteArray(R"({"ip":"5.6.7.8","city":""})") << "5.6.7.8";
        QTest::newRow("no ip") << QByteArray(R"({"city":"Riga"})") << "Riga · ";
        QTest::newRow("city not text") << QByteArray(R"({"ip":"5.6.7.8","city":7})") << "5.6.7.8";
    }
    void exitTexts() {
        QFETCH(QByteArray, body);
        QFETCH(QString, shown);
        VpnRig rig;
        rig.service.on("GET", "/json", ScriptedReply::text(404, body, "application/json"));
        Vpn& vpn = madeConnected(rig);
        finishLookup(rig);
        QCOMPARE(vpn.exit(), std::optional(shown)); // whatever the status code
        QCOMPARE(rig.service.requests("GET", "/json").size(), 1);
    }

    // Three attempts two seconds apart, each cut off after 12 s; a JSON list is no answer.
    void lookupAttempts_data() {
        QTest::addColumn<bool>("secondHangs");
        QTest::addColumn<QList<qint64>>("at");
        QTest::addColumn<QString>("shown"); // "" = none
        QTest::newRow("three lists") << false << QList<qint64>{0, 2000, 4000} << "";
        QTest::newRow("list, hang, answer") << true << QList<qint64>{0, 2000, 16000} << "Riga · 5.6.7.8";
    }
    void lookupAttempts() {
        QFETCH(bool, secondHangs);
        QFETCH(QList<qint64>, at);
        QFETCH(QString, shown);
        VpnRig rig;
        rig.service.enqueue("GET", "/json", ScriptedReply::text(200, "[1,2]"));
        auto slow = ScriptedReply::text(200, R"({"ip":"9.9.9.9"})");
        slow.delay = 5s;
        rig.service.enqueue("GET", "/json", secondHangs ? slow : ScriptedReply::text(200, "[1,2]"));
        if (!secondHangs)
            rig.service.enqueue("GET", "/json", ScriptedReply::text(200, "[1,2]"));
        QList<qint64> times;
        recordTimes(rig, times);
        Vpn& vpn = madeConnected(rig);
        finishLookup(rig, 3);
        QCOMPARE(times, at);
        QCOMPARE(vpn.exit(), shown.isEmpty() ? std::nullopt : std::optional(shown));
    }

    void eachLookupClearsTheOldAddressFirst() {
        VpnRig rig;
        Vpn& vpn = madeConnected(rig);
        finishLookup(rig);
        rig.tunnels.connection()->setStatus(TunnelStatus::Reasserting);
        rig.settle();
        QVERIFY(vpn.exit());
        rig.service.on("GET", "/json", ScriptedReply::text(200, "not json"));
        rig.tunnels.connection()->setStatus(TunnelStatus::Connected); // a new tunnel, proved anew
        QVERIFY(rig.run([&] { return vpn.status() == VpnStatus::On; }));
        QCOMPARE(vpn.exit(), std::nullopt);
    }

    // An answer that arrives after the tunnel went off shows nothing.
    void lateAnswerAfterDisconnectIsDropped() {
        VpnRig rig;
        auto slow = ScriptedReply::text(200, R"({"ip":"9.9.9.9"})");
        slow.delay = 300ms;
        rig.service.on("GET", "/json", slow);
        Vpn& vpn = madeConnected(rig);
        QTRY_COMPARE_WITH_TIMEOUT(rig.service.requests("GET", "/json").size(), 1, 20000);
        vpn.disconnect();
        rig.settle(400ms); // lets the late real reply arrive
        QCOMPARE(vpn.exit(), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestVpnStatus)
#include "tst_vpn_status.moc"
