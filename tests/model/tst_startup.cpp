// The start-up sequence (reconnect decision, the 3-hourly update check) and sign-in links (the app
// following one from its arguments: tst_app).

#include "ModelRig.h"
#include "model/SignInLink.h"
#include "model/Startup.h"
#include "update/Updater.h"

#include <QTest>

namespace {

struct StartupRig : ModelRig {
    StartupRig() : updater(api.api, api.store, desktop, api.network, clock) {}

    bool runStartup() { return finish(::runStartup(*model, tunnel(), updater, api.store, clock)); }

    Updater updater;
};

} // namespace

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void reconnectsOnlyWhenEveryConditionHolds_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("reconnects");
        QTest::newRow("every condition holds") << "" << true;
        QTest::newRow("auto-connect off") << "auto-connect off" << false;
        QTest::newRow("was not connected") << "was not connected" << false;
        QTest::newRow("tunnel already on") << "tunnel on" << false;
        QTest::newRow("inactive account") << "inactive" << false;
        QTest::newRow("no server") << "no server" << false;
        QTest::newRow("offline") << "offline" << false;
    }
    void reconnectsOnlyWhenEveryConditionHolds() {
        QFETCH(QString, change);
        QFETCH(bool, reconnects);
        StartupRig rig;
        const bool noServer = change == "no server";
        rig.serveAccount(change != "inactive", noServer ? "[]" : configs({"Амстердам", "Рига"}));
        if (!noServer)
            rig.cache(configs({"Амстердам", "Рига"}));
        rig.api.defaults.setString("profile_name", "Рига");
        rig.api.defaults.setBoolean("was_connected", change != "was not connected");
        if (change == "auto-connect off")
            rig.api.defaults.setBoolean("auto_connect", false);
        if (change == "tunnel on")
            rig.tunnels.preload().fakeConnection()->setStatus(TunnelStatus::Connected);
        if (change == "offline")
            rig.service().on("GET", "/api/v1/me", ScriptedReply::reset());
        rig.make();
        rig.api.signIn();

        QVERIFY(rig.runStartup());
        QCOMPARE(rig.vpn->profileName().has_value(), reconnects);
        QCOMPARE(rig.vpn->status(), reconnects || change == "tunnel on" ? Vpn::Status::On : Vpn::Status::Off);
        if (reconnects)
            QCOMPARE(rig.tunnels.connection()->startedServers, QStringList({"Рига"}));
    }

    void loadsThenChecksForUpdatesEveryThreeHours() {
        StartupRig rig;
        rig.serveAccount();
        rig.make();
        rig.api.signIn();
        QVERIFY(rig.runStartup());
        // the model's own version check ends its load; then the updater's
        QCOMPARE(rig.calls(),
                 QStringList({"me", "referral", "plans", "configs", "app/version", "app/version"}));
        QCOMPARE(rig.clock.elapsed(), 0ms);
        QVERIFY(drive([&] { return rig.count("app/version") == 4; }, &rig.clock));
        rig.settle();                      // the fourth reply is still on its way back
        QCOMPARE(rig.clock.elapsed(), 6h); // twice in six hours
        QCOMPARE(rig.clock.sleepers(), 1); // and waiting for the next
    }

    void updateLoopEndsWithTheUpdater() {
        StartupRig rig;
        rig.serveAccount();
        auto updater =
            std::make_unique<Updater>(rig.api.api, rig.api.store, rig.desktop, rig.api.network, rig.clock);
        startMainTask(keepCheckingForUpdates(updater.get(), rig.clock));
        updater.reset();
        QVERIFY(rig.clock.advanceToNext());
        rig.settle();
        QCOMPARE(rig.clock.sleepers(), 0);
        QCOMPARE(rig.count("app/version"), 0);
    }

    void signInLinks_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("token"); // empty: ignored
        const auto row = [](const char* name, const char* link, const char* token) {
            QTest::newRow(name) << QString(link) << QString(token);
        };
        row("plain", "vemko://auth?token=abc", "abc");
        row("other items ignored, first token wins", "vemko://auth?a=1&token=abc&token=def", "abc");
        row("percent-decoded", "vemko://auth/?token=a%2Fb%3D", "a/b=");
        row("fragment", "vemko://auth?token=abc#x", "abc");
        row("other host", "vemko://login?token=abc", "");
        row("other scheme", "https://auth?token=abc", "");
        row("scheme in capitals", "VEMKO://auth?token=abc", "");
        row("host in capitals", "vemko://AUTH?token=abc", "");
        row("no host", "vemko:auth?token=abc", "");
        row("no token item", "vemko://auth?tok=abc", "");
        row("no query", "vemko://auth", "");
        row("token without value", "vemko://auth?token", "");
        row("empty token", "vemko://auth?token=", "");
        row("first token empty", "vemko://auth?token=&token=b", "");
        row("not a URL", "vemko://au th?token=abc", "");
        row("header injection", "vemko://auth?token=a%0D%0AX-Evil:%201", "");
    }
    void signInLinks() {
        QFETCH(QString, link);
        QFETCH(QString, token);
        QCOMPARE(signInLinkToken(link), maybe(token));
    }
};

QTEST_GUILESS_MAIN(StartupTest)
#include "tst_startup.moc"
