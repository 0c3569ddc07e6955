// AppModel's own state: creation, the load cycle, server selection, the action wrapper and the
// version check.

#include "ModelRig.h"

#include <QSignalSpy>
#include <QTest>

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
};

QTEST_GUILESS_MAIN(AppModelTest)
#include "tst_app_model.moc"
