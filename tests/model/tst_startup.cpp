// The start-up sequence (reconnect decision, the 3-hourly update check) and sign-in links.

#include "ModelRig.h"
#include "model/SignInLink.h"
#include "model/Startup.h"
#include "update/Updater.h"

#include <QTest>

using namespace std::chrono_literals;

namespace {

struct StartupRig : ModelRig {
    StartupRig() : updater(api.api, api.store, desktop, api.network) {}

    bool runStartup() { return finish(::runStartup(*model, tunnel(), updater, api.store, clock)); }
    qsizetype versionChecks() { return count("app/version"); }

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
        QTest::newRow("auto-connect not a Boolean") << "auto-connect text" << true;
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
        rig.serveAccount(change != "inactive", noServer ? "[]" : replies::configs({"Амстердам", "Рига"}));
        if (!noServer)
            rig.api.defaults.setString("configs", QString::fromUtf8(replies::configs({"Амстердам", "Рига"})));
        rig.api.defaults.setString("profile_name", "Рига");
        rig.api.defaults.setBoolean("was_connected", change != "was not connected");
        if (change == "auto-connect off")
            rig.api.defaults.setBoolean("auto_connect", false);
        if (change == "auto-connect text")
            rig.api.defaults.setString("auto_connect", "false");
        if (change == "tunnel on")
            rig.tunnels.preload().fakeConnection()->setStatus(TunnelStatus::Connected);
        if (change == "offline")
            rig.service().on("GET", "/api/v1/me", ScriptedReply::reset());
        rig.make();
        rig.api.signIn();

        QVERIFY(rig.runStartup());
        QCOMPARE(rig.vpn->profileName().has_value(), reconnects);
        if (reconnects) {
            QCOMPARE(rig.vpn->status(), Vpn::Status::On);
            QCOMPARE(rig.tunnels.connection()->startedServers, QStringList({"Рига"}));
        } else {
            QCOMPARE(rig.vpn->status(), change == "tunnel on" ? Vpn::Status::On : Vpn::Status::Off);
        }
    }

    void loadsBeforeCheckingForUpdates() {
        StartupRig rig;
        rig.serveAccount();
        rig.make();
        rig.api.signIn();
        QVERIFY(rig.runStartup());
        // the model's own version check ends its load; then the updater's
        QCOMPARE(rig.calls(),
                 QStringList({"me", "referral", "plans", "configs", "app/version", "app/version"}));
        QVERIFY(!rig.updater.available());
    }

    void updateCheckRepeatsEveryThreeHours() {
        StartupRig rig;
        rig.serveAccount();
        rig.make(); // signed out: only the updater asks for the version
        QVERIFY(rig.runStartup());
        QCOMPARE(rig.versionChecks(), 1);
        QCOMPARE(rig.clock.elapsed(), 0ms);

        QVERIFY(drive([&] { return rig.versionChecks() == 3; }, &rig.clock));
        QCOMPARE(rig.clock.elapsed(), 6h); // twice in six hours
        QCOMPARE(rig.clock.sleepers(), 1); // and waiting for the next
        QVERIFY(rig.clock.advanceToNext());
        QCOMPARE(rig.clock.elapsed(), 9h);
    }

    void updateLoopEndsWithTheUpdater() {
        StartupRig rig;
        rig.serveAccount();
        auto updater = std::make_unique<Updater>(rig.api.api, rig.api.store, rig.desktop, rig.api.network);
        startMainTask(keepCheckingForUpdates(updater.get(), rig.clock));
        QCOMPARE(rig.clock.sleepers(), 1);
        updater.reset();
        QVERIFY(rig.clock.advanceToNext());
        rig.settle();
        QCOMPARE(rig.clock.sleepers(), 0);
        QCOMPARE(rig.versionChecks(), 0);
    }

    // --- sign-in links ---

    void signInLinks_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("token"); // empty: ignored
        QTest::newRow("plain") << "vemko://auth?token=abc"
                               << "abc";
        QTest::newRow("other items ignored, first token wins") << "vemko://auth?a=1&token=abc&token=def"
                                                               << "abc";
        QTest::newRow("percent-decoded") << "vemko://auth/?token=a%2Fb%3D"
                                         << "a/b=";
        QTest::newRow("fragment") << "vemko://auth?token=abc#x"
                                  << "abc";
        QTest::newRow("other host") << "vemko://login?token=abc"
                                    << "";
        QTest::newRow("other scheme") << "https://auth?token=abc"
                                      << "";
        QTest::newRow("scheme in capitals") << "VEMKO://auth?token=abc"
                                            << "";
        QTest::newRow("host in capitals") << "vemko://AUTH?token=abc"
                                          << "";
        QTest::newRow("no host") << "vemko:auth?token=abc"
                                 << "";
        QTest::newRow("no token item") << "vemko://auth?tok=abc"
                                       << "";
        QTest::newRow("no query") << "vemko://auth"
                                  << "";
        QTest::newRow("token without value") << "vemko://auth?token"
                                             << "";
        QTest::newRow("empty token") << "vemko://auth?token="
                                     << "";
        QTest::newRow("first token empty") << "vemko://auth?token=&token=b"
                                           << "";
        QTest::newRow("not a URL") << "vemko://au th?token=abc"
                                   << "";
        QTest::newRow("header injection") << "vemko://auth?token=a%0D%0AX-Evil:%201"
                                          << "";
    }
    void signInLinks() {
        QFETCH(QString, link);
        QFETCH(QString, token);
        const auto expected = token.isEmpty() ? std::nullopt : std::optional<QString>(token);
        QCOMPARE(signInLinkToken(link), expected);
    }

    void signInLinkFromAUrl() {
        QCOMPARE(signInLinkToken(QUrl("vemko://auth?token=abc")), QStringLiteral("abc"));
        QCOMPARE(signInLinkToken(QUrl("vemko://other?token=abc")), std::nullopt);
    }

    void aLinkStartsATokenSignIn() {
        ModelRig rig;
        rig.serveAccount();
        AppModel& model = rig.make();
        QVERIFY(!handleSignInLink(model, QStringLiteral("vemko://login?token=abc")));
        QVERIFY(handleSignInLink(model, QUrl("vemko://auth?token=link-token")));
        QVERIFY(drive([&] { return model.signedIn() && rig.count("app/version") == 1; }, &rig.clock));
        QCOMPARE(rig.token(), QStringLiteral("link-token"));
        QCOMPARE(model.message(), QStringLiteral("Вход выполнен"));
    }
};

QTEST_GUILESS_MAIN(StartupTest)
#include "tst_startup.moc"
