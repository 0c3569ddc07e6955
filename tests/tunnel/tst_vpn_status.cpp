#include "VpnRig.h"

#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

// The status sync and the exit-address lookup it starts.
class TestVpnStatus : public QObject {
    Q_OBJECT

    // A controller over a configuration saved earlier, its tunnel in `status`.
    static Vpn& madeWith(VpnRig& rig, TunnelStatus status) {
        rig.tunnels.preload().fakeConnection()->setStatus(status);
        return rig.make();
    }
    static void finishLookup(VpnRig& rig) {
        rig.run([&] { return rig.clock.sleepers() == 0; });
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
    }
    // From a running tunnel with its exit address shown, to each platform state.
    void table() {
        QFETCH(TunnelStatus, platform);
        QFETCH(VpnStatus, shown);
        QFETCH(bool, keepsSinceAndExit);
        VpnRig rig;
        Vpn& vpn = madeWith(rig, TunnelStatus::Connected);
        finishLookup(rig);
        QCOMPARE(vpn.exit(), std::optional<QString>("Riga · 5.6.7.8"));
        const auto since = vpn.since();
        QSignalSpy sinceChanges(&vpn, &Vpn::sinceChanged);
        rig.clock.advance(1min);
        if (platform != TunnelStatus::Connected)
            rig.tunnels.connection()->setStatus(platform);
        vpn.syncStatus();
        finishLookup(rig);
        QCOMPARE(vpn.status(), shown);
        QCOMPARE(vpn.since().has_value(), keepsSinceAndExit);
        QCOMPARE(vpn.exit().has_value(), keepsSinceAndExit);
        QCOMPARE(sinceChanges.size(), keepsSinceAndExit ? 0 : 1);
        QCOMPARE(rig.service.requests("GET", "/json").size(), 1); // connected again: no second lookup
    }

    // Without a configuration's connection the tunnel reads as off and the connected clock and
    // address are not touched.
    void noConnectionLeavesSinceAndExit() {
        VpnRig rig;
        auto& manager = rig.tunnels.preload();
        manager.fakeConnection()->setStatus(TunnelStatus::Connected);
        Vpn& vpn = rig.make();
        finishLookup(rig);
        manager.forgetConnection();
        vpn.syncStatus();
        QCOMPARE(vpn.status(), VpnStatus::Off);
        QVERIFY(vpn.since());
        QCOMPARE(vpn.exit(), std::optional<QString>("Riga · 5.6.7.8"));
    }

    // Each notification leads to a sync; connected takes the platform's date, else the sync's time.
    void notificationSyncsAndDatesTheConnection() {
        VpnRig rig;
        auto& connection = *rig.tunnels.preload().fakeConnection();
        Vpn& vpn = rig.make();
        QSignalSpy statuses(&vpn, &Vpn::statusChanged);
        connection.setStatus(TunnelStatus::Connecting);
        QCOMPARE(vpn.status(), VpnStatus::Off); // scheduled, not run inside the notification
        rig.settle();
        QCOMPARE(vpn.status(), VpnStatus::Connecting);
        const QDateTime connectedAt = rig.clock.now();
        connection.setStatus(TunnelStatus::Connected);
        rig.clock.advance(5min);
        rig.settle();
        QCOMPARE(vpn.status(), VpnStatus::On);
        QCOMPARE(vpn.since(), std::optional(connectedAt));
        QCOMPARE(statuses.size(), 2);

        connection.setStatus(TunnelStatus::Disconnected);
        rig.settle();
        rig.tunnels.datesConnections = false;
        connection.setStatus(TunnelStatus::Connected);
        rig.settle();
        QCOMPARE(vpn.since(), std::optional(rig.clock.now()));
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
        Vpn& vpn = madeWith(rig, TunnelStatus::Connected);
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
        Vpn& vpn = madeWith(rig, TunnelStatus::Connected);
        finishLookup(rig);
        QCOMPARE(times, at);
        QCOMPARE(vpn.exit(), shown.isEmpty() ? std::nullopt : std::optional(shown));
    }

    void eachLookupClearsTheOldAddressFirst() {
        VpnRig rig;
        Vpn& vpn = madeWith(rig, TunnelStatus::Connected);
        finishLookup(rig);
        rig.tunnels.connection()->setStatus(TunnelStatus::Reasserting);
        rig.settle();
        QVERIFY(vpn.exit());
        rig.service.on("GET", "/json", ScriptedReply::text(200, "not json"));
        rig.tunnels.connection()->setStatus(TunnelStatus::Connected);
        rig.settle();
        QCOMPARE(vpn.exit(), std::nullopt);
    }

    // An answer that arrives after the tunnel went off shows nothing.
    void lateAnswerAfterDisconnectIsDropped() {
        VpnRig rig;
        auto slow = ScriptedReply::text(200, R"({"ip":"9.9.9.9"})");
        slow.delay = 300ms;
        rig.service.on("GET", "/json", slow);
        Vpn& vpn = madeWith(rig, TunnelStatus::Connected);
        QTRY_COMPARE_WITH_TIMEOUT(rig.service.requests("GET", "/json").size(), 1, 20000);
        vpn.disconnect();
        rig.settle(400ms); // lets the late real reply arrive
        QCOMPARE(vpn.exit(), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestVpnStatus)
#include "tst_vpn_status.moc"
