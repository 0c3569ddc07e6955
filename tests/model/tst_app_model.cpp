// AppModel's own state (creation, the load cycle, server selection, the action wrapper, the
// version check), the start-up sequence (reconnect decision, the 3-hourly update check), sign-in
// links (the app following one from its arguments: tst_app), and the texts and choices a screen
// and vemkoctl share (the tray status line, the tariff list).

#include "ModelRig.h"
#include "model/SignInLink.h"
#include "model/Startup.h"
#include "model/StatusLine.h"
#include "model/Tariffs.h"
#include "update/Updater.h"

#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(VpnStatus)

namespace {

struct StartupRig : ModelRig {
    StartupRig() : updater(api.api, api.store, desktop, api.network, clock) {}

    bool runStartup() { return finish(::runStartup(*model, tunnel(), updater, api.store, clock)); }

    Updater updater;
};

} // namespace

class AppModelTest : public QObject {
    Q_OBJECT

private slots:
    void creationWithoutTokenRestoresTheCache_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("savedName"); // empty: nothing saved
        QTest::addColumn<QString>("expected");  // empty: none selected
        const QByteArray two = configs({"Амстердам", "Рига"});
        QTest::newRow("second by name") << two << "Рига" << QString("Рига");
        QTest::newRow("unknown name gives the first") << two << "Берлин" << QString("Амстердам");
        QTest::newRow("case matters") << two << "рига" << QString("Амстердам");
        QTest::newRow("nothing saved gives the first") << two << "" << QString("Амстердам");
        QTest::newRow("empty list gives none") << QByteArray("[]") << "Рига" << QString();
        QTest::newRow("unreadable document gives none") << QByteArray("{oops") << "Рига" << QString();
    }
    void creationWithoutTokenRestoresTheCache() {
        QFETCH(QByteArray, document);
        QFETCH(QString, savedName);
        QFETCH(QString, expected);
        ModelRig rig;
        rig.serveAccount();
        rig.api.defaults.setString("configs", QString::fromUtf8(document));
        if (!savedName.isEmpty())
            rig.api.defaults.setString("profile_name", savedName);
        AppModel& model = rig.make();
        QCOMPARE(model.selected() ? std::optional(model.selected()->name) : std::nullopt, maybe(expected));
        QCOMPARE(names(rig.vpn->profiles()), names(model.profiles()));
        QVERIFY(!model.signedIn());
        QVERIFY(rig.finish(model.load())); // signed out: neither on its own nor when asked
        QCOMPARE(rig.calls(), QStringList());
    }

    void creationWithTokenStartsOneLoad() {
        ModelRig rig;
        rig.serveAccount();
        rig.api.signIn();
        AppModel& model = rig.make();
        QVERIFY(model.signedIn() && !model.me()); // the load runs later, from the event loop
        QVERIFY(drive([&] { return rig.count("app/version") == 1; }, &rig.clock));
        rig.settle();
        QCOMPARE(rig.calls(), fullLoad);
        QVERIFY(model.me() && model.referral() && model.card() && model.stripeTrial() == 3);
        QCOMPARE(model.plans().size(), 1);
        QCOMPARE(names(rig.vpn->profiles()), QStringList({"Амстердам", "Рига"}));
        QCOMPARE(rig.stored("configs"), QString::fromUtf8(configs({"Амстердам", "Рига"})));
        QVERIFY(!model.error() && !model.update() && !model.deviceLimit());
    }

    // One failing step of a load after a good one; then a good load again.
    void loadFailures_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<ScriptedReply>("reply");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("shown"); // empty: no error
        const QStringList all{"me", "referral", "plans", "configs", "app/version"};
        const QStringList noList{"me", "referral", "plans", "app/version"};
        QTest::newRow("account refused")
            << "me" << refusal(401, "Сессия истекла") << QStringList{"me"} << "Сессия истекла";
        QTest::newRow("account offline") << "me" << ScriptedReply::reset() << QStringList{"me"} << "";
        QTest::newRow("inactive account keeps the cached list") << "me" << me(false) << noList << "";
        QTest::newRow("referral") << "referral" << refusal(500, "Сбой") << all << "";
        QTest::newRow("catalogue") << "plans" << ok("{}") << all << "";
        QTest::newRow("device limit")
            << "configs" << refusal(403, "Лимит устройств", "device_limit") << all << "Лимит устройств";
        QTest::newRow("list, other code") << "configs" << refusal(403, "Нет", "forbidden") << all << "";
        QTest::newRow("list offline") << "configs" << ScriptedReply::reset() << all << "";
        QTest::newRow("version") << "app/version" << ScriptedReply::reset() << all << "";
    }
    void loadFailures() {
        QFETCH(QString, path);
        QFETCH(ScriptedReply, reply);
        QFETCH(QStringList, calls);
        QFETCH(QString, shown);
        ModelRig rig;
        AppModel& model = rig.loaded(configs({"Кэш"}));
        rig.service().on("GET", "/api/v1/" + path.toUtf8(), reply);
        QVERIFY(rig.finish(model.load()));

        QCOMPARE(rig.distinctCalls(), QSet<QString>(calls.begin(), calls.end()));
        QCOMPARE(model.error(), maybe(shown));
        QCOMPARE(model.deviceLimit(), path == "configs" && !shown.isEmpty());
        QVERIFY(model.me() && rig.token()); // no sign-out, nothing forgotten
        QCOMPARE(model.referral().has_value(), path != "referral");
        QCOMPARE(model.plans().size(), 1);
        QCOMPARE(names(model.profiles()), QStringList({"Кэш"}));
        QCOMPARE(rig.stored("configs"), QString::fromUtf8(configs({"Кэш"})));

        rig.serveAccount(true, configs({"Новый"}));
        QVERIFY(rig.finish(model.load()));
        QVERIFY(!model.deviceLimit());
        QCOMPARE(model.selected()->name, QStringLiteral("Новый"));
    }

    void versionCheck() {
        ModelRig rig;
        AppModel& model = rig.make();
        QSignalSpy updates(&model, &AppModel::updateChanged);
        for (const qint64 code : {ModelRig::build, ModelRig::build + 2, ModelRig::build - 1}) {
            rig.service().on("GET", "/api/v1/app/version", version(code));
            QVERIFY(rig.finish(model.checkUpdate()));
            QCOMPARE(model.update().has_value(), code != ModelRig::build); // the same build is no update
        }
        QCOMPARE(model.update()->version_code, ModelRig::build + 2); // an older one leaves the offer
        QCOMPARE(updates.count(), 1);
    }

    void onlyRealChangesAreRepublished() {
        ModelRig rig;
        AppModel& model = rig.loaded();
        int changes = 0;
        for (const auto signal :
             {&AppModel::meChanged, &AppModel::referralChanged, &AppModel::plansChanged,
              &AppModel::stripeTiersChanged, &AppModel::profilesChanged, &AppModel::selectedChanged})
            connect(&model, signal, this, [&] { ++changes; });
        QVERIFY(rig.finish(model.load()));
        QCOMPARE(changes, 0);
        // A server whose settings changed under the same name reaches the screens and the tunnel.
        rig.serveAccount(true, configs({"Амстердам", "Рига"}, "new.example.net"));
        QVERIFY(rig.finish(model.load()));
        QCOMPARE(changes, 2); // the list and the selection
        const auto address = [](const ServerProfile& profile) {
            return profile.config["outbounds"][0]["settings"]["vnext"][0]["address"].toString();
        };
        QCOMPARE(address(*model.selected()), QStringLiteral("new.example.net"));
        QCOMPARE(address(rig.vpn->profiles()[0]), QStringLiteral("new.example.net"));
    }

    void overlappingLoadsStoreWholeDocuments() {
        ModelRig rig;
        AppModel& model = rig.loaded();
        const QByteArray slow = configs({"Медленный-1", "Медленный-2"});
        ScriptedReply late = ScriptedReply::text(200, slow);
        late.delay = std::chrono::milliseconds(150);
        rig.service().enqueue("GET", "/api/v1/configs", late);
        rig.service().enqueue("GET", "/api/v1/configs", ScriptedReply::text(200, configs({"Быстрый"})));
        const auto first = spawn(model.load()), second = spawn(model.load());
        QVERIFY(drive([&] { return *first && *second; }, &rig.clock));
        // The last reply wins, and the cache is always the document the list came from.
        QCOMPARE(rig.stored("configs"), QString::fromUtf8(slow));
        QCOMPARE(names(model.profiles()), QStringList({"Медленный-1", "Медленный-2"}));
    }

    void aModelDestroyedMidLoadIsLeftAlone() {
        ModelRig rig;
        AppModel& model = rig.loaded();
        ScriptedReply late = me(true);
        late.delay = std::chrono::milliseconds(50);
        rig.service().on("GET", "/api/v1/me", late);
        const auto done = spawn(model.load());
        rig.model.reset();
        QVERIFY(drive([&] { return *done; }, &rig.clock));
        QCOMPARE(rig.calls(), QStringList({"me"}));
    }

    void selectionRemembersAndMovesARunningTunnel_data() {
        QTest::addColumn<int>("status"); // of the tunnel service; -1: no tunnel
        QTest::newRow("off") << -1;
        QTest::newRow("connecting") << int(TunnelStatus::Connecting);
        QTest::newRow("on") << int(TunnelStatus::Connected);
    }
    void selectionRemembersAndMovesARunningTunnel() {
        QFETCH(int, status);
        ModelRig rig;
        if (status >= 0)
            rig.tunnels.preload().fakeConnection()->setStatus(TunnelStatus(status));
        rig.cache(configs({"Амстердам", "Рига"}));
        AppModel& model = rig.make();
        model.select(model.profiles()[1]);
        QCOMPARE(model.selected()->name, QStringLiteral("Рига"));
        QCOMPARE(rig.stored("profile_name"), QStringLiteral("Рига"));
        if (status < 0) {
            rig.settle();
            QVERIFY(rig.extensions.submissions.isEmpty() && !rig.tunnels.connection());
            QCOMPARE(rig.vpn->status(), Vpn::Status::Off);
            return;
        }
        QVERIFY(drive([&] { return rig.vpn->status() == Vpn::Status::On && rig.stored("lastGood"); },
                      &rig.clock));
        QCOMPARE(rig.tunnels.connection()->startedServers.last(), QStringLiteral("Рига"));
        QCOMPARE(rig.stored("lastGood"), QStringLiteral("Рига"));
    }

    void runReportsFailuresAndAlwaysEndsIdle_data() {
        QTest::addColumn<ScriptedReply>("reply");
        QTest::addColumn<QString>("shown");
        const QString fallback = QStringLiteral("Промокод не сработал");
        QTest::newRow("refusal shows its text") << refusal(400, "Код использован") << "Код использован";
        QTest::newRow("transport shows the fallback") << ScriptedReply::reset() << fallback;
        QTest::newRow("decoding shows the fallback") << ok(R"({"message":"ok"})") << fallback;
    }
    void runReportsFailuresAndAlwaysEndsIdle() {
        QFETCH(ScriptedReply, reply);
        QFETCH(QString, shown);
        ModelRig rig;
        AppModel& model = rig.loaded();
        rig.service().on("POST", "/api/v1/promo", reply);
        QList<bool> busy;
        connect(&model, &AppModel::busyChanged, this, [&] { busy.append(model.busy()); });
        QList<std::optional<QString>> errors;
        connect(&model, &AppModel::errorChanged, this, [&] { errors.append(model.error()); });

        QVERIFY(rig.finish(model.applyPromo("CODE")));
        QCOMPARE(busy, QList<bool>({true, false}));
        QCOMPARE(model.error(), shown);
        QVERIFY(!model.message());
        QCOMPARE(rig.distinctCalls(), QSet<QString>({"promo"})); // a failed action reloads nothing

        // The next action clears the error first.
        rig.service().on("POST", "/api/v1/promo", ok(R"({"ok":true,"message":"+7"})"));
        QVERIFY(rig.finish(model.applyPromo("CODE")));
        QCOMPARE(errors, QList<std::optional<QString>>({shown, std::nullopt}));
    }

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

    void statusLine_data() {
        QTest::addColumn<VpnStatus>("status");
        QTest::addColumn<QString>("server"); // "" : none
        QTest::addColumn<int>("account");    // 0 none, 1 inactive, 2 active, -1 none and recovering
        QTest::addColumn<QString>("line");
        QTest::newRow("on") << VpnStatus::On << "Европа авто" << 1 << "Подключено · Европа авто";
        QTest::newRow("on, no name") << VpnStatus::On << "" << 2 << "Подключено · ";
        QTest::newRow("connecting") << VpnStatus::Connecting << "Рига" << 0 << "Подключаюсь…";
        QTest::newRow("replacing a dead server")
            << VpnStatus::Connecting << "пробую: Рига" << -1 << "Связь пропала — переключаюсь…";
        QTest::newRow("off, subscribed") << VpnStatus::Off << "Рига" << 2 << "Отключено";
        QTest::newRow("off, inactive") << VpnStatus::Off << "" << 1 << "Подписка не активна";
        QTest::newRow("off, no account") << VpnStatus::Off << "" << 0 << "Подписка не активна";
    }
    void statusLine() {
        QFETCH(VpnStatus, status);
        QFETCH(QString, server);
        QFETCH(int, account);
        QFETCH(QString, line);
        std::optional<Me> me;
        if (account > 0) {
            me.emplace();
            me->active = account == 2;
        }
        QCOMPARE(
            ::statusLine(status, server.isEmpty() ? std::nullopt : std::optional(server), me, account < 0),
            line);
    }

    // Only the chosen device count, shortest first; equal terms keep the service's order.
    void plansForDevices() {
        const QList<Plan> plans{
            {"y", 365, 3, 2990}, {"m", 30, 3, 299}, {"other", 7, 1, 99}, {"w", 7, 3, 99}, {"m2", 30, 3, 349}};
        QStringList codes;
        for (const Plan& plan : ::plansForDevices(plans, 3))
            codes << plan.code;
        QCOMPARE(codes, (QStringList{"w", "m", "m2", "y"}));
        QVERIFY(::plansForDevices(plans, 2).isEmpty());
    }

    void priceLine_data() {
        QTest::addColumn<qint64>("days");
        QTest::addColumn<qint64>("price");
        QTest::addColumn<QString>("term");
        QTest::addColumn<QString>("line");
        const auto row = [](const char* tag, qint64 days, qint64 price, const char* term,
                            const QString& line) {
            QTest::newRow(tag) << days << price << QString(term) << line;
        };
        row("month", 30, 299, "30 дней", "299 ₽ · 299 ₽ за месяц");
        row("year, truncated", 365, 2990, "365 дней", "2990 ₽ · 245 ₽ за месяц");
        row("quarter", 90, 1000, "90 дней", "1000 ₽ · 333 ₽ за месяц");
        row("one day", 1, 10, "1 день", "10 ₽ · 300 ₽ за месяц");
        row("22 days", 22, 0, "22 дня", "0 ₽ · 0 ₽ за месяц");
        row("no days: no monthly figure", 0, 100, "0 дней", "100 ₽");
        constexpr qint64 huge = std::numeric_limits<qint64>::max();
        row("huge price clamps", 1, huge, "1 день",
            QString::number(huge) + " ₽ · " + QString::number(huge / 30 * 30) + " ₽ за месяц");
    }
    void priceLine() {
        QFETCH(qint64, days);
        QFETCH(qint64, price);
        QFETCH(QString, term);
        QFETCH(QString, line);
        const Plan plan{"p", days, 1, price};
        QCOMPARE(planTerm(plan), term);
        QCOMPARE(planPriceLine(plan), line);
    }

    // The card tiers by device count (their texts: the command line's "plans").
    void cardTiersByDevices() {
        QList<int> devices;
        for (const StripeTier& tier : sortedTiers({{5, 9.0, 90.0}, {1, 4.5, 48.0}, {3, 6.0, 60.0}}))
            devices << tier.devices;
        QCOMPARE(devices, (QList<int>{1, 3, 5}));
    }
};

QTEST_GUILESS_MAIN(AppModelTest)
#include "tst_app_model.moc"
