#include "VpnRig.h"
#include "tunnel/TrafficProbe.h"

#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;

namespace {
const QString allowText = "Разрешите Вемко добавить настройки VPN и повторите";
const QString noneText = "Ни один сервер не пропустил трафик. Проверьте интернет или напишите в поддержку.";
} // namespace

class TestVpnConnect : public QObject {
    Q_OBJECT

    // Records each new value of a text property ("-" for none).
    static void watch(Vpn& vpn, void (Vpn::*changed)(), std::optional<QString> (Vpn::*read)() const,
                      QStringList& into) {
        QObject::connect(&vpn, changed, &vpn,
                         [&vpn, read, &into] { into.append((vpn.*read)().value_or("-")); });
    }
    static QList<ServerProfile> europe(int count = 3) {
        return QList<ServerProfile>{VpnRig::profile("Европа 1"), VpnRig::profile("Европа Wi-Fi"),
                                    VpnRig::profile("Европа авто")}
            .first(count);
    }

private slots:
    // The connected notification ends the 0.3 s poll early: the probe goes out at 1.05 s. Only
    // its answer makes the tunnel "on": the connected clock and the exit lookup start after it.
    void singleServerConnectsOnceProven() {
        VpnRig rig;
        rig.tunnels.connectAfter = 1050ms;
        Vpn& vpn = rig.make();
        QSignalSpy statuses(&vpn, &Vpn::statusChanged);
        QStringList seen; // each request with the status shown when it arrived
        connect(&rig.service, &TestService::requestReceived, &vpn, [&](const RecordedRequest& request) {
            seen << QString::fromUtf8(request.path) + (vpn.status() == VpnStatus::On ? " on" : " not on");
        });
        QVERIFY(rig.run(vpn.connect(VpnRig::profile("Амстердам"))));
        QCOMPARE(vpn.status(), VpnStatus::On);
        QCOMPARE(vpn.profileName(), std::optional<QString>("Амстердам"));
        QCOMPARE(vpn.error(), std::nullopt);
        QCOMPARE(rig.stored("lastGood"), std::optional<QString>("Амстердам"));
        QCOMPARE(rig.defaults.boolean("was_connected"), std::optional(true));
        QCOMPARE(rig.clock.elapsed(), 1050ms);
        QCOMPARE(vpn.since(), std::optional(rig.clock.now()));
        QCOMPARE(statuses.size(), 2); // connecting, on
        QVERIFY(rig.run([&] { return vpn.exit().has_value(); }));
        QCOMPARE(seen, (QStringList{"/api/v1/ip not on", "/json on"}));
    }

    // The last good server is tried right after the choice; each candidate is named as it is
    // tried, and the tunnel stays "connecting" until one passes.
    void failOverNamesEachCandidateAndKeepsTheOneThatPasses() {
        VpnRig rig;
        rig.defaults.setString("lastGood", "Европа авто");
        rig.tunnels.connectAfterByServer = {{"Европа 1", std::nullopt}, {"Европа авто", std::nullopt}};
        Vpn& vpn = rig.make();
        vpn.setProfiles(europe());
        QStringList seen;
        watch(vpn, &Vpn::profileNameChanged, &Vpn::profileName, seen);
        QSignalSpy statuses(&vpn, &Vpn::statusChanged);
        QVERIFY(rig.run(vpn.connect(europe().first())));
        QCOMPARE(seen,
                 (QStringList{"Европа 1", "пробую: Европа авто", "пробую: Европа Wi-Fi", "Европа Wi-Fi"}));
        QCOMPARE(statuses.size(), 2); // connecting, on
        QCOMPARE(vpn.error(), std::nullopt);
        QCOMPARE(rig.stored("lastGood"), std::optional<QString>("Европа Wi-Fi"));
        QCOMPARE(rig.tunnels.connection()->stops, 2);
        QCOMPARE(rig.extensions.submissions.size(), 3);
        QCOMPARE(rig.clock.elapsed(), 25s); // 12 s per silent candidate, 1 s for the third
    }

    // None of several passes: each candidate is stopped, then the fail-over message. One that
    // carries nothing costs two probe attempts, each followed by 1.2 s; one that never connects
    // and ignores the stop costs 12 s and the full 6 s of the stop.
    void noneOfSeveralPassesShowsTheFailOverMessage_data() {
        QTest::addColumn<bool>("connects");
        QTest::addColumn<Ms>("took");
        QTest::newRow("connect, carry nothing") << true << Ms(2 * (1s + 2 * 1200ms));
        QTest::newRow("never connect, ignore the stop") << false << Ms(2 * (12s + 6s));
    }
    void noneOfSeveralPassesShowsTheFailOverMessage() {
        QFETCH(bool, connects);
        QFETCH(Ms, took);
        VpnRig rig;
        rig.service.on("GET", "/api/v1/ip", VpnRig::failing());
        if (!connects) {
            rig.tunnels.connectAfter = std::nullopt;
            rig.tunnels.stopAfter = std::nullopt;
        }
        Vpn& vpn = rig.make();
        vpn.setProfiles(europe(2));
        QVERIFY(rig.run(vpn.connect(europe().first())));
        QCOMPARE(vpn.error(), std::optional(noneText));
        QCOMPARE(vpn.status(), connects ? VpnStatus::Off : VpnStatus::Connecting); // as long as it ignores us
        QCOMPARE(rig.service.requests("GET", "/api/v1/ip").size(), connects ? 4 : 0);
        QCOMPARE(rig.tunnels.connection()->stops, 2);
        QCOMPARE(rig.stored("lastGood"), std::nullopt);
        QCOMPARE(rig.defaults.boolean("was_connected"), std::nullopt);
        QCOMPARE(rig.clock.elapsed(), took);
    }

    // A lone server that fails is stopped like any other, and says why.
    void loneServerThatFailsIsStopped_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<Ms>("took");
        QTest::addColumn<int>("probes");
        QTest::newRow("probe refused") << "refused" << Ms(1s + 2 * 1200ms) << 2;
        QTest::newRow("probe hangs: cut at 7 s") << "hangs" << Ms(1s + 2 * 7s + 2 * 1200ms) << 2;
        QTest::newRow("no answer at all: at once") << "closed" << Ms(1s) << -1; // Qt resends on its own
        QTest::newRow("never connects: 12 s") << "silent" << Ms(12s) << 0;
        QTest::newRow("falls down again: at once") << "drops" << Ms(2s) << 0;
    }
    void loneServerThatFailsIsStopped() {
        QFETCH(QString, how);
        QFETCH(Ms, took);
        QFETCH(int, probes);
        VpnRig rig;
        auto slow = VpnRig::passing();
        slow.delay = 5s;
        const QMap<QString, ScriptedReply> probe{
            {"refused", VpnRig::failing()}, {"hangs", slow}, {"closed", ScriptedReply::garbage("x")}};
        if (probe.contains(how))
            rig.service.on("GET", "/api/v1/ip", probe[how]);
        if (how == "silent" || how == "drops")
            rig.tunnels.connectAfter = std::nullopt;
        if (how == "drops")
            rig.tunnels.dropAfter = 2s;
        rig.tunnels.stopAfter = 0ms;
        Vpn& vpn = rig.make();
        QSignalSpy statuses(&vpn, &Vpn::statusChanged);
        QVERIFY(rig.run(vpn.connect(VpnRig::profile("Амстердам"))));
        QCOMPARE(rig.clock.elapsed(), took);
        if (probes >= 0)
            QCOMPARE(rig.service.requests("GET", "/api/v1/ip").size(), probes);
        QCOMPARE(vpn.error(),
                 std::optional<QString>(
                     "Сервер не пропустил трафик. Проверьте интернет или выберите другой сервер."));
        QCOMPARE(vpn.status(), VpnStatus::Off);
        QCOMPARE(statuses.size(), 2); // connecting, off: never on
        QCOMPARE(rig.tunnels.connection()->stops, 1);
        QCOMPARE(rig.tunnels.connection()->status(), TunnelStatus::Disconnected);
    }

    void stepErrorsAreMapped_data() {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        const auto row = [](const char* tag, const char* where, const char* text, const QString& shown) {
            QTest::newRow(tag) << QString(where) << QString(text) << shown;
        };
        row("save refused", "save", "Permission denied", allowText);
        row("start failed", "start", "no engine", "no engine");
        row("extension denied", "extension", "Request DENIED", allowText);
        row("extension failed", "extension", "v2ray is missing", "v2ray is missing");
        row("load failed", "loadAll", "store unreadable", "store unreadable");
    }
    void stepErrorsAreMapped() {
        QFETCH(QString, where);
        QFETCH(QString, text);
        QFETCH(QString, shown);
        VpnRig rig;
        Vpn& vpn = rig.make();
        (where == "save"      ? rig.tunnels.saveError
         : where == "start"   ? rig.tunnels.startError
         : where == "loadAll" ? rig.tunnels.loadAllError
                              : rig.extensions.failWith) = text;
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
        vpn.setProfiles(europe(2));
        QStringList seen;
        watch(vpn, &Vpn::errorChanged, &Vpn::error, seen);
        QVERIFY(rig.run(vpn.connect(europe().first())));
        QCOMPARE(seen, (QStringList{"no engine", "-", "no engine", noneText}));
    }

    void previewBuildOnlyExplains() {
        VpnRig rig(true);
        Vpn& vpn = rig.make();
        QVERIFY(rig.run(vpn.connect(VpnRig::profile("Амстердам"))));
        QCOMPARE(vpn.error(),
                 std::optional<QString>("Это предварительная сборка: туннель в ней не включается"));
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
    }

    // The user's "off" while candidates are being tried ends the run: nothing comes up after it.
    void disconnectEndsARunningConnect() {
        VpnRig rig;
        rig.tunnels.connectAfterByServer = {{"Европа 1", std::nullopt}};
        Vpn& vpn = rig.make();
        vpn.setProfiles(europe());
        const auto done = spawn(vpn.connect(europe().first()));
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
        const auto older = spawn(vpn.connect(europe().first()));
        rig.advance(3s);
        QStringList seen;
        watch(vpn, &Vpn::profileNameChanged, &Vpn::profileName, seen);
        const auto newer = spawn(vpn.connect(VpnRig::profile("Берлин")));
        QVERIFY(rig.run([&] { return *older && *newer; }));
        QCOMPARE(seen, QStringList{"Берлин"});
        QCOMPARE(vpn.status(), VpnStatus::On);
        QCOMPARE(rig.stored("lastGood"), std::optional<QString>("Берлин"));
        QCOMPARE(rig.tunnels.connection()->stops, 0);
        QCOMPARE(rig.tunnels.connection()->startedServers, (QStringList{"Европа 1", "Берлин"}));
    }

    void probeVerdict_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("passes");
        QTest::newRow("exit member") << 200 << QByteArray(R"({"a":1,"exit":"x"})") << true;
        QTest::newRow("space before colon") << 200 << QByteArray(R"({"exit" :"1.2.3.4"})") << false;
        QTest::newRow("space after colon") << 200 << QByteArray(R"({"exit": "1.2.3.4"})") << false;
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
