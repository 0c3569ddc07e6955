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

    static void lookupAnswers(VpnRig& rig, QByteArray body) {
        rig.service.on("GET", "/json", ScriptedReply::text(200, body, "application/json"));
    }

    // Runs until the lookup has nothing left to do.
    static void finishLookup(VpnRig& rig) {
        rig.run([&] { return rig.clock.sleepers() == 0; });
    }

private slots:
    void initialValues() {
        VpnRig rig;
        Vpn& vpn = rig.make();
        QCOMPARE(vpn.status(), VpnStatus::Off);
        QCOMPARE(vpn.profileName(), std::nullopt);
        QCOMPARE(vpn.error(), std::nullopt);
        QCOMPARE(vpn.since(), std::nullopt);
        QCOMPARE(vpn.exit(), std::nullopt);
        QVERIFY(!vpn.needsApproval());
        QVERIFY(vpn.profiles().isEmpty());
        QCOMPARE(vpn.tunnelBundleId(), QString("app.vemko.vpn.tunnel"));
        QVERIFY(!vpn.previewOnly());
    }

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
        QVERIFY(since);
        rig.clock.advance(1min);

        if (platform == TunnelStatus::Connected)
            rig.tunnels.connection()->setStatus(TunnelStatus::Reasserting);
        rig.tunnels.connection()->setStatus(platform);
        vpn.syncStatus();
        QCOMPARE(vpn.status(), shown);
        QCOMPARE(vpn.since().has_value(), keepsSinceAndExit);
        QCOMPARE(vpn.exit().has_value(), keepsSinceAndExit);
        if (keepsSinceAndExit)
            QCOMPARE(vpn.since(), since);
    }

    void connectedAgainStartsNoLookup() {
        VpnRig rig;
        Vpn& vpn = madeWith(rig, TunnelStatus::Connected);
        finishLookup(rig);
        QSignalSpy sinceChanges(&vpn, &Vpn::sinceChanged);
        rig.clock.advance(1min);
        vpn.syncStatus();
        finishLookup(rig);
        QCOMPARE(rig.service.requests("GET", "/json").size(), 1);
        QCOMPARE(sinceChanges.size(), 0);
    }

    void sinceIsTheConnectedDateElseNow() {
        VpnRig rig;
        auto& connection = *rig.tunnels.preload().fakeConnection();
        connection.setStatus(TunnelStatus::Connected);
        const QDateTime connectedAt = rig.clock.now();
        rig.clock.advance(5min);
        Vpn& vpn = rig.make();
        QCOMPARE(vpn.since(), std::optional(connectedAt));

        connection.setStatus(TunnelStatus::Disconnected);
        rig.settle();
        rig.tunnels.datesConnections = false;
        rig.clock.advance(1min);
        connection.setStatus(TunnelStatus::Connected);
        rig.settle();
        QCOMPARE(vpn.since(), std::optional(rig.clock.now()));
    }

    // Without a configuration, or without its connection, the tunnel reads as off and the
    // connected clock and address are not touched.
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

    void failedLoadReadsAsOff() {
        VpnRig rig;
        rig.tunnels.preload().fakeConnection()->setStatus(TunnelStatus::Connected);
        rig.tunnels.loadAllError = "unreadable";
        Vpn& vpn = rig.make();
        QCOMPARE(vpn.status(), VpnStatus::Off);
        vpn.syncStatus();
        QCOMPARE(vpn.status(), VpnStatus::Off);
    }

    // Each platform notification leads to a sync without anyone calling it.
    void notificationSyncs() {
        VpnRig rig;
        auto& connection = *rig.tunnels.preload().fakeConnection();
        Vpn& vpn = rig.make();
        QSignalSpy statuses(&vpn, &Vpn::statusChanged);
        connection.setStatus(TunnelStatus::Connecting);
        QCOMPARE(vpn.status(), VpnStatus::Off); // scheduled, not run inside the notification
        rig.settle();
        QCOMPARE(vpn.status(), VpnStatus::Connecting);
        connection.setStatus(TunnelStatus::Connected);
        rig.settle();
        QCOMPARE(vpn.status(), VpnStatus::On);
        QCOMPARE(statuses.size(), 2);
    }

    void connectedClearsApproval() {
        VpnRig rig;
        auto& connection = *rig.tunnels.preload().fakeConnection();
        Vpn& vpn = rig.make();
        vpn.requestNeedsUserApproval(vpn.tunnelBundleId());
        QVERIFY(vpn.needsApproval());
        connection.setStatus(TunnelStatus::Connecting);
        rig.settle();
        QVERIFY(vpn.needsApproval());
        connection.setStatus(TunnelStatus::Connected);
        rig.settle();
        QVERIFY(!vpn.needsApproval());
    }

    void setProfilesNotifiesOnlyOnChange() {
        VpnRig rig;
        Vpn& vpn = rig.make();
        QSignalSpy changes(&vpn, &Vpn::profilesChanged);
        vpn.setProfiles({VpnRig::profile("A"), VpnRig::profile("B")});
        vpn.setProfiles({VpnRig::profile("A"), VpnRig::profile("B")}); // new ids, same names
        QCOMPARE(changes.size(), 1);
        vpn.setProfiles({VpnRig::profile("B"), VpnRig::profile("A")});
        QCOMPARE(changes.size(), 2);

        // Same names, new settings for one server: the list must be replaced.
        ServerProfile moved = VpnRig::profile("A");
        moved.config.insert("outbounds", QJsonArray{QJsonObject{{"protocol", "trojan"}}});
        vpn.setProfiles({VpnRig::profile("B"), moved});
        QCOMPARE(changes.size(), 3);
        QCOMPARE(vpn.profiles().at(1).config, moved.config);
    }

    void exitTexts_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("shown");
        QTest::newRow("city and ip") << QByteArray(R"({"ip":"5.6.7.8","city":"Riga"})") << "Riga · 5.6.7.8";
        QTest::newRow("no city") << QByteArray(R"({"ip":"5.6.7.8"})") << "5.6.7.8";
        QTest::newRow("empty city") << QByteArray(R"({"ip":"5.6.7.8","city":""})") << "5.6.7.8";
        QTest::newRow("no ip") << QByteArray(R"({"city":"Riga"})") << "Riga · ";
        QTest::newRow("city not text") << QByteArray(R"({"ip":"5.6.7.8","city":7})") << "5.6.7.8";
        QTest::newRow("nothing") << QByteArray("{}") << "";
    }
    void exitTexts() {
        QFETCH(QByteArray, body);
        QFETCH(QString, shown);
        VpnRig rig;
        lookupAnswers(rig, body);
        Vpn& vpn = madeWith(rig, TunnelStatus::Connected);
        finishLookup(rig);
        QCOMPARE(vpn.exit(), std::optional(shown));
        const auto requests = rig.service.requests("GET", "/json");
        QCOMPARE(requests.size(), 1);
    }

    // Three attempts two seconds apart; a JSON list is no answer.
    void lookupGivesUpAfterThreeAttempts() {
        VpnRig rig;
        lookupAnswers(rig, "[1,2]");
        QList<qint64> at;
        const QDateTime start = rig.clock.now();
        QObject::connect(&rig.service, &TestService::requestReceived, &rig.service,
                         [&](const RecordedRequest&) { at.append(start.msecsTo(rig.clock.now())); });
        Vpn& vpn = madeWith(rig, TunnelStatus::Connected);
        finishLookup(rig);
        QCOMPARE(at, (QList<qint64>{0, 2000, 4000}));
        QCOMPARE(vpn.exit(), std::nullopt);
    }

    void lookupRetriesAfterBadBodyAndTimeout() {
        VpnRig rig;
        rig.service.enqueue("GET", "/json", ScriptedReply::text(502, "<html>bad gateway</html>"));
        auto slow = ScriptedReply::text(200, R"({"ip":"9.9.9.9"})");
        slow.delay = 5s;
        rig.service.enqueue("GET", "/json", slow);
        QList<qint64> at;
        const QDateTime start = rig.clock.now();
        QObject::connect(&rig.service, &TestService::requestReceived, &rig.service,
                         [&](const RecordedRequest&) { at.append(start.msecsTo(rig.clock.now())); });
        Vpn& vpn = madeWith(rig, TunnelStatus::Connected);
        finishLookup(rig);
        // not JSON, wait 2 s; cut off after 12 s, wait 2 s; the standing answer
        QCOMPARE(at, (QList<qint64>{0, 2000, 16000}));
        QCOMPARE(vpn.exit(), std::optional<QString>("Riga · 5.6.7.8"));
    }

    void eachLookupClearsTheOldAddressFirst() {
        VpnRig rig;
        auto& connection = *rig.tunnels.preload().fakeConnection();
        connection.setStatus(TunnelStatus::Connected);
        Vpn& vpn = rig.make();
        finishLookup(rig);
        connection.setStatus(TunnelStatus::Reasserting);
        rig.settle();
        QVERIFY(vpn.exit());
        lookupAnswers(rig, "not json");
        connection.setStatus(TunnelStatus::Disconnected);
        connection.setStatus(TunnelStatus::Connected);
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
        QCOMPARE(rig.service.requests("GET", "/json").size(), 1);
        vpn.disconnect();
        rig.settle(400ms); // lets the late real reply arrive
        QCOMPARE(vpn.exit(), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestVpnStatus)
#include "tst_vpn_status.moc"
