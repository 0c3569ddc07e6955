#include "VpnRig.h"
#include "tunnel/TrafficProbe.h"

#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

namespace {

const QString allowText = "Разрешите Вемко добавить настройки VPN и повторите";
const QString noneText = "Ни один сервер не пропустил трафик. Проверьте интернет или напишите в поддержку.";
const QString previewText =
    "Это предварительная сборка: туннель включится, когда Apple выдаст права на сетевое расширение";

} // namespace

class TestVpnConnect : public QObject {
    Q_OBJECT

    // Records profileName values of `vpn` into `into`.
    static void watchNames(Vpn& vpn, QStringList& into) {
        QObject::connect(&vpn, &Vpn::profileNameChanged, &vpn,
                         [&vpn, &into] { into.append(vpn.profileName().value_or("<none>")); });
    }

    // Probe answers by the server the tunnel runs: passing for those in `good`, failing for the rest.
    static void probePasses(VpnRig& rig, QStringList good) {
        rig.service.handle([&rig, good](const RecordedRequest& request) {
            if (request.path != "/api/v1/ip")
                return ScriptedReply::empty(404);
            return good.contains(rig.runningServer()) ? VpnRig::passing() : VpnRig::failing();
        });
    }

    static QList<ServerProfile> europe() {
        return {VpnRig::profile("Европа 1"), VpnRig::profile("Европа Wi-Fi"), VpnRig::profile("Европа авто")};
    }

private slots:
    void singleServerConnects() {
        VpnRig rig;
        Vpn& vpn = rig.make();
        QSignalSpy statuses(&vpn, &Vpn::statusChanged);
        QVERIFY(rig.run(vpn.connect(VpnRig::profile("Амстердам"))));

        QCOMPARE(vpn.status(), VpnStatus::On);
        QCOMPARE(vpn.profileName(), std::optional<QString>("Амстердам"));
        QCOMPARE(vpn.error(), std::nullopt);
        QCOMPARE(rig.stored("lastGood"), std::optional<QString>("Амстердам"));
        QCOMPARE(rig.defaults.boolean("was_connected"), std::optional(true));
        QCOMPARE(rig.extensions.submissions, QStringList{"app.vemko.vpn.tunnel"});
        QCOMPARE(rig.service.requests("GET", "/api/v1/ip").size(), 1);
        QCOMPARE(vpn.since(), std::optional(rig.clock.now()));
        QCOMPARE(statuses.size(), 2); // connecting, on
        QCOMPARE(rig.tunnels.connection()->stops, 0);
    }

    // The connected notification ends the wait at once; polling alone would notice at 1.2 s.
    void connectedNotificationEndsTheWaitEarly() {
        VpnRig rig;
        rig.tunnels.connectAfter = 1050ms;
        Vpn& vpn = rig.make();
        QDateTime probedAt;
        QObject::connect(&rig.service, &TestService::requestReceived, &vpn,
                         [&](const RecordedRequest& request) {
                             if (request.path == "/api/v1/ip")
                                 probedAt = rig.clock.now();
                         });
        const QDateTime started = rig.clock.now();
        QVERIFY(rig.run(vpn.connect(VpnRig::profile("Амстердам"))));
        QCOMPARE(started.msecsTo(probedAt), 1050);
    }

    void failOverNamesEachCandidateAndKeepsTheOneThatPasses() {
        VpnRig rig;
        rig.tunnels.connectAfterByServer = {{"Европа 1", std::nullopt}, {"Европа Wi-Fi", std::nullopt}};
        Vpn& vpn = rig.make();
        vpn.setProfiles(europe());
        QStringList names;
        watchNames(vpn, names);
        QVERIFY(rig.run(vpn.connect(europe().first())));

        QCOMPARE(names,
                 (QStringList{"Европа 1", "пробую: Европа Wi-Fi", "пробую: Европа авто", "Европа авто"}));
        QCOMPARE(vpn.status(), VpnStatus::On);
        QCOMPARE(vpn.error(), std::nullopt);
        QCOMPARE(rig.stored("lastGood"), std::optional<QString>("Европа авто"));
        QCOMPARE(rig.tunnels.connection()->stops, 2);
        QCOMPARE(rig.extensions.submissions.size(), 3);
        // 12 s for each silent candidate (the stop is seen at once), 1 s for the third.
        QCOMPARE(rig.clock.elapsed(), 25s);
    }

    // The configs document changed a server's settings but not its name: fail-over must start
    // that server with the new settings.
    void aServerChangedUnderItsNameFailsOverWithItsNewSettings() {
        VpnRig rig;
        rig.tunnels.connectAfterByServer = {{"Европа 1", std::nullopt}};
        Vpn& vpn = rig.make();
        vpn.setProfiles({VpnRig::profile("Европа 1"), VpnRig::profile("Европа авто")});
        ServerProfile moved = VpnRig::profile("Европа авто");
        moved.config.insert("outbounds", QJsonArray{QJsonObject{{"protocol", "vmess"}, {"tag", "new-host"}}});
        vpn.setProfiles({VpnRig::profile("Европа 1"), moved});
        QVERIFY(rig.run(vpn.connect(VpnRig::profile("Европа 1"))));

        QCOMPARE(rig.runningServer(), "Европа авто");
        const QString started =
            rig.tunnels.saved()->protocolConfiguration->providerConfiguration.value("config").toString();
        QVERIFY2(started.contains("new-host"), qPrintable(started));
    }

    void lastGoodIsTriedRightAfterTheChoice() {
        VpnRig rig;
        rig.defaults.setString("lastGood", "Европа авто");
        rig.tunnels.connectAfterByServer = {{"Европа 1", std::nullopt}};
        Vpn& vpn = rig.make();
        vpn.setProfiles(europe());
        QVERIFY(rig.run(vpn.connect(europe().first())));
        QCOMPARE(rig.tunnels.connection()->startedServers, (QStringList{"Европа 1", "Европа авто"}));
    }

    // Each candidate connects but carries nothing: two probe attempts with their pauses each.
    void noneOfSeveralPassesShowsTheFailOverMessage() {
        VpnRig rig;
        probePasses(rig, {});
        Vpn& vpn = rig.make();
        vpn.setProfiles({europe()[0], europe()[1]});
        QVERIFY(rig.run(vpn.connect(europe().first())));

        QCOMPARE(vpn.error(), std::optional(noneText));
        QCOMPARE(vpn.status(), VpnStatus::Off);
        QCOMPARE(rig.service.requests("GET", "/api/v1/ip").size(), 4);
        QCOMPARE(rig.tunnels.connection()->stops, 2);
        QCOMPARE(rig.stored("lastGood"), std::nullopt);
        QCOMPARE(rig.defaults.boolean("was_connected"), std::nullopt);
        // per candidate: 1 s to connect, 2 x 1.2 s of pauses after the failed attempts
        QCOMPARE(rig.clock.elapsed(), 6800ms);
    }

    void aLoneServerThatFailsIsLeftRunningWithoutMessage() {
        VpnRig rig;
        probePasses(rig, {});
        Vpn& vpn = rig.make();
        QVERIFY(rig.run(vpn.connect(VpnRig::profile("Амстердам"))));
        QCOMPARE(vpn.error(), std::nullopt);
        QCOMPARE(vpn.status(), VpnStatus::Off);
        QCOMPARE(rig.tunnels.connection()->stops, 0);
        QCOMPARE(vpn.profileName(), std::optional<QString>("Амстердам"));
    }

    void aLoneServerThatNeverConnectsWaitsTwelveSeconds() {
        VpnRig rig;
        rig.tunnels.connectAfter = std::nullopt;
        Vpn& vpn = rig.make();
        QVERIFY(rig.run(vpn.connect(VpnRig::profile("Амстердам"))));
        QCOMPARE(rig.clock.elapsed(), 12s);
        QCOMPARE(vpn.error(), std::nullopt);
        QCOMPARE(vpn.status(), VpnStatus::Off);
        QCOMPARE(rig.service.requests("GET", "/api/v1/ip").size(), 0);
    }

    // A tunnel that starts and falls down again fails its candidate then, not after 12 s.
    void aTunnelThatGoesDownFailsAtOnce() {
        VpnRig rig;
        rig.tunnels.connectAfter = std::nullopt;
        rig.tunnels.dropAfter = 2s;
        Vpn& vpn = rig.make();
        QVERIFY(rig.run(vpn.connect(VpnRig::profile("Амстердам"))));
        QCOMPARE(rig.clock.elapsed(), 2s);
        QCOMPARE(vpn.status(), VpnStatus::Off);
    }

    // A tunnel that ignores the stop costs the full 6 s before the next candidate.
    void stopWaitIsSixSeconds() {
        VpnRig rig;
        rig.tunnels.connectAfter = std::nullopt;
        rig.tunnels.stopAfter = std::nullopt;
        Vpn& vpn = rig.make();
        vpn.setProfiles({europe()[0], europe()[1]});
        QVERIFY(rig.run(vpn.connect(europe().first())));
        QCOMPARE(rig.clock.elapsed(), 36s);
        QCOMPARE(vpn.error(), std::optional(noneText));
    }

    void probeThatHangsIsCutAfterSevenSeconds() {
        VpnRig rig;
        rig.service.on("GET", "/api/v1/ip", [] {
            auto slow = VpnRig::passing();
            slow.delay = 5s;
            return slow;
        }());
        Vpn& vpn = rig.make();
        QVERIFY(rig.run(vpn.connect(VpnRig::profile("Амстердам"))));
        QCOMPARE(vpn.status(), VpnStatus::Off);
        QCOMPARE(rig.service.requests("GET", "/api/v1/ip").size(), 2);
        QCOMPARE(rig.clock.elapsed(), 1s + 2 * 7s + 2 * 1200ms);
    }

    void stepErrorsAreMapped_data() {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("platformText");
        QTest::addColumn<QString>("shown");
        QTest::newRow("save refused") << "save"
                                      << "Permission denied" << allowText;
        QTest::newRow("start failed") << "start"
                                      << "vemko-tunnel is not installed"
                                      << "vemko-tunnel is not installed";
        QTest::newRow("extension denied") << "extension"
                                          << "Request DENIED by the user" << allowText;
        QTest::newRow("extension failed") << "extension"
                                          << "v2ray is missing"
                                          << "v2ray is missing";
        QTest::newRow("load failed") << "loadAll"
                                     << "configuration store unreadable"
                                     << "configuration store unreadable";
    }
    void stepErrorsAreMapped() {
        QFETCH(QString, where);
        QFETCH(QString, platformText);
        QFETCH(QString, shown);
        VpnRig rig;
        Vpn& vpn = rig.make();
        if (where == "save")
            rig.tunnels.saveError = platformText;
        if (where == "start")
            rig.tunnels.startError = platformText;
        if (where == "loadAll")
            rig.tunnels.loadAllError = platformText;
        if (where == "extension")
            rig.extensions.failWith = platformText;
        QVERIFY(rig.run(vpn.connect(VpnRig::profile("Амстердам"))));
        QCOMPARE(vpn.error(), std::optional(shown));
        QCOMPARE(vpn.status(), VpnStatus::Off);
        QCOMPARE(rig.clock.elapsed(), 0ms);
    }

    // The next candidate's finished extension request clears the previous candidate's message;
    // the final message replaces it.
    void aFailedStepMessageGivesWayToTheFailOverMessage() {
        VpnRig rig;
        rig.tunnels.startError = "no engine";
        Vpn& vpn = rig.make();
        vpn.setProfiles({europe()[0], europe()[1]});
        QStringList errors;
        QObject::connect(&vpn, &Vpn::errorChanged, &vpn,
                         [&] { errors.append(vpn.error().value_or("<none>")); });
        QVERIFY(rig.run(vpn.connect(europe().first())));
        QCOMPARE(errors, (QStringList{"no engine", "<none>", "no engine", noneText}));
    }

    void previewBuildOnlyExplains() {
        VpnRig rig(true);
        Vpn& vpn = rig.make();
        QVERIFY(vpn.previewOnly());
        QVERIFY(rig.run(vpn.connect(VpnRig::profile("Амстердам"))));
        QCOMPARE(vpn.error(), std::optional(previewText));
        QCOMPARE(vpn.status(), VpnStatus::Off);
        QCOMPARE(vpn.profileName(), std::nullopt);
        QVERIFY(rig.extensions.submissions.isEmpty());
        QCOMPARE(rig.tunnels.saved(), nullptr);
    }

    void disconnectClearsAtOnceAndKeepsTheName() {
        VpnRig rig;
        Vpn& vpn = rig.make();
        QVERIFY(rig.run(vpn.connect(VpnRig::profile("Амстердам"))));
        QVERIFY(rig.run([&] { return vpn.exit().has_value(); }));

        vpn.disconnect();
        QCOMPARE(vpn.status(), VpnStatus::Off);
        QCOMPARE(vpn.since(), std::nullopt);
        QCOMPARE(vpn.exit(), std::nullopt);
        QCOMPARE(vpn.profileName(), std::optional<QString>("Амстердам"));
        QCOMPARE(rig.defaults.boolean("was_connected"), std::optional(false));
        QCOMPARE(rig.tunnels.connection()->stops, 1);
        rig.advance(1s);
        QCOMPARE(rig.tunnels.connection()->status(), TunnelStatus::Disconnected);
        QCOMPARE(vpn.status(), VpnStatus::Off);
    }

    void disconnectWithoutTunnelStillForgets() {
        VpnRig rig;
        rig.defaults.setBoolean("was_connected", true);
        Vpn& vpn = rig.make();
        vpn.disconnect();
        QCOMPARE(rig.defaults.boolean("was_connected"), std::optional(false));
        QCOMPARE(vpn.status(), VpnStatus::Off);
    }

    // The user's "off" while candidates are being tried ends the run: nothing comes up after it.
    void disconnectEndsARunningConnect() {
        VpnRig rig;
        rig.tunnels.connectAfterByServer = {{"Европа 1", std::nullopt}};
        Vpn& vpn = rig.make();
        vpn.setProfiles(europe());
        const auto done = startTracked(vpn.connect(europe().first()));
        rig.advance(3s);
        vpn.disconnect();
        QVERIFY(rig.run([&] { return *done; }));
        rig.advance(30s);

        QCOMPARE(rig.tunnels.connection()->startedServers, QStringList{"Европа 1"});
        QCOMPARE(vpn.status(), VpnStatus::Off);
        QCOMPARE(rig.defaults.boolean("was_connected"), std::optional(false));
        QCOMPARE(vpn.error(), std::nullopt);
    }

    // A newer connect takes over: the older run writes nothing more and stops no tunnel.
    void newerConnectSupersedesTheOlder() {
        VpnRig rig;
        rig.tunnels.connectAfterByServer = {{"Европа 1", std::nullopt}};
        Vpn& vpn = rig.make();
        vpn.setProfiles(europe());
        const auto older = startTracked(vpn.connect(europe().first()));
        rig.advance(3s);
        QStringList names;
        watchNames(vpn, names);
        const auto newer = startTracked(vpn.connect(VpnRig::profile("Берлин")));
        QVERIFY(rig.run([&] { return *older && *newer; }));

        QCOMPARE(names, QStringList{"Берлин"});
        QCOMPARE(vpn.status(), VpnStatus::On);
        QCOMPARE(rig.stored("lastGood"), std::optional<QString>("Берлин"));
        QCOMPARE(rig.tunnels.connection()->stops, 0);
        QCOMPARE(rig.tunnels.connection()->startedServers, (QStringList{"Европа 1", "Берлин"}));
        QCOMPARE(vpn.error(), std::nullopt);
    }

    void probeVerdict_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("passes");
        QTest::newRow("exit member") << 200 << QByteArray(R"({"exit":"1.2.3.4"})") << true;
        QTest::newRow("among others") << 200 << QByteArray(R"({"a":1,"exit":"x"})") << true;
        QTest::newRow("space before colon") << 200 << QByteArray(R"({"exit" :"1.2.3.4"})") << false;
        QTest::newRow("space after colon") << 200 << QByteArray(R"({"exit": "1.2.3.4"})") << false;
        QTest::newRow("number value") << 200 << QByteArray(R"({"exit":1})") << false;
        QTest::newRow("204") << 204 << QByteArray(R"({"exit":"1.2.3.4"})") << false;
        QTest::newRow("500") << 500 << QByteArray(R"({"exit":"1.2.3.4"})") << false;
        QTest::newRow("not UTF-8") << 200 << QByteArray("{\"exit\":\"\xff\xfe\"}") << false;
    }
    void probeVerdict() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, passes);
        QCOMPARE(probePassed(HttpResult{status, body}), passes);
        QVERIFY(!probePassed(HttpResult{std::nullopt, body}));
    }
};

QTEST_GUILESS_MAIN(TestVpnConnect)
#include "tst_vpn_connect.moc"
