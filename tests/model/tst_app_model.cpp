// AppModel's own state: creation, the load cycle, server selection, the action wrapper and the
// version check.

#include "ModelRig.h"

#include <QSignalSpy>
#include <QTest>

class AppModelTest : public QObject {
    Q_OBJECT

private slots:
    // --- creation ---

    void creationWithoutTokenRestoresCacheAndLoadsNothing() {
        ModelRig rig;
        rig.serveAccount();
        rig.api.defaults.setString("configs", QString::fromUtf8(replies::configs({"Амстердам", "Рига"})));
        rig.api.defaults.setString("profile_name", "Рига");
        AppModel& model = rig.make();

        QVERIFY(!model.signedIn());
        QCOMPARE(names(model.profiles()), QStringList({"Амстердам", "Рига"}));
        QCOMPARE(names(rig.vpn->profiles()), QStringList({"Амстердам", "Рига"}));
        QVERIFY(model.selected());
        QCOMPARE(model.selected()->name, QStringLiteral("Рига"));
        rig.settle();
        QCOMPARE(rig.calls(), QStringList());
    }

    void creationRestoresSelection_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("savedName"); // empty: nothing saved
        QTest::addColumn<QString>("expected");  // empty: none selected
        const QByteArray three = replies::configs({"Амстердам", "Рига", "Рига"});
        QTest::newRow("second by name") << three << "Рига"
                                        << "Рига";
        QTest::newRow("unknown name gives the first") << three << "Берлин"
                                                      << "Амстердам";
        QTest::newRow("case matters") << three << "рига"
                                      << "Амстердам";
        QTest::newRow("nothing saved gives the first") << three << ""
                                                       << "Амстердам";
        QTest::newRow("empty list gives none") << QByteArray("[]") << "Рига"
                                               << "";
        QTest::newRow("unreadable document gives none") << QByteArray("{oops") << "Рига"
                                                        << "";
    }
    void creationRestoresSelection() {
        QFETCH(QByteArray, document);
        QFETCH(QString, savedName);
        QFETCH(QString, expected);
        ModelRig rig;
        rig.api.defaults.setString("configs", QString::fromUtf8(document));
        if (!savedName.isEmpty())
            rig.api.defaults.setString("profile_name", savedName);
        AppModel& model = rig.make();
        QCOMPARE(model.selected().has_value(), !expected.isEmpty());
        if (model.selected()) {
            QCOMPARE(model.selected()->name, expected);
            // the restored server is the first of that name, from the list itself
            QCOMPARE(model.selected()->id, model.profiles()[names(model.profiles()).indexOf(expected)].id);
        }
    }

    void creationWithTokenStartsOneLoad() {
        ModelRig rig;
        rig.serveAccount();
        rig.api.signIn();
        AppModel& model = rig.make();
        QSignalSpy signedIn(&model, &AppModel::signedInChanged);
        QVERIFY(model.signedIn());
        QVERIFY(!model.me()); // the load runs later, from the event loop
        QVERIFY(
            drive([&] { return rig.count("app/version") == 1 && !model.profiles().isEmpty(); }, &rig.clock));
        QVERIFY(model.me());
        QCOMPARE(rig.count("me"), 1);
        QCOMPARE(signedIn.count(), 0);
    }

    // --- the load cycle ---

    void loadFetchesEverythingInOrder() {
        ModelRig rig;
        rig.serveAccount(true, replies::configs({"Амстердам", "Рига"}), ModelRig::build + 1);
        AppModel& model = rig.make();
        rig.api.signIn();
        QVERIFY(rig.finish(model.load()));

        QCOMPARE(rig.calls(), QStringList({"me", "referral", "plans", "configs", "app/version"}));
        QVERIFY(model.me() && model.me()->active);
        QCOMPARE(model.referral()->invited, 2);
        QCOMPARE(model.plans().size(), 1);
        QCOMPARE(model.plans()[0].price, 299);
        QVERIFY(model.card());
        QCOMPARE(model.stripeTiers().size(), 1);
        QCOMPARE(model.stripeTrial(), 3);
        QCOMPARE(rig.stored("configs"), QString::fromUtf8(replies::configs({"Амстердам", "Рига"})));
        QCOMPARE(names(model.profiles()), QStringList({"Амстердам", "Рига"}));
        QCOMPARE(names(rig.vpn->profiles()), QStringList({"Амстердам", "Рига"}));
        QCOMPARE(model.selected()->name, QStringLiteral("Амстердам"));
        QCOMPARE(model.update()->version_code, ModelRig::build + 1);
        QVERIFY(!model.error() && !model.message() && !model.busy() && !model.deviceLimit());
    }

    void loadWithoutTokenDoesNothing() {
        ModelRig rig;
        rig.serveAccount();
        AppModel& model = rig.make();
        QVERIFY(rig.finish(model.load()));
        QCOMPARE(rig.calls(), QStringList());
    }

    void accountRefusalStopsTheCycleWithItsText() {
        ModelRig rig;
        rig.serveAccount();
        rig.service().on("GET", "/api/v1/me", replies::refusal(401, "Сессия истекла, войдите снова"));
        rig.api.signIn();
        AppModel& model = rig.make(); // its own load runs the cycle
        QVERIFY(drive([&] { return model.error().has_value(); }, &rig.clock));
        rig.settle();
        QCOMPARE(model.error(), QStringLiteral("Сессия истекла, войдите снова"));
        QVERIFY(model.signedIn()); // no sign-out on a rejected token
        QVERIFY(rig.token());
        QCOMPARE(rig.calls(), QStringList({"me"}));
    }

    void accountTransportFailureIsSilent() {
        ModelRig rig;
        rig.serveAccount();
        AppModel& model = rig.make();
        rig.api.signIn();
        QVERIFY(rig.finish(model.load()));
        const auto before = model.me();
        rig.service().on("GET", "/api/v1/me", ScriptedReply::reset());
        rig.service().clearRequests();
        QVERIFY(rig.finish(model.load()));
        // (a reset GET may be resent once by the network stack)
        QCOMPARE(rig.distinctCalls(), QSet<QString>({"me"}));
        QVERIFY(model.me()); // the earlier account stays
        QCOMPARE(model.me()->support_url, before->support_url);
        QVERIFY(!model.error());
    }

    void referralAndCatalogueFailures() {
        ModelRig rig;
        rig.serveAccount();
        AppModel& model = rig.make();
        rig.api.signIn();
        QVERIFY(rig.finish(model.load()));
        QVERIFY(model.referral());

        rig.service().on("GET", "/api/v1/referral", replies::refusal(500, "Сбой"));
        rig.service().on("GET", "/api/v1/plans",
                         ScriptedReply::json(200, QJsonObject{{"plans", QJsonArray{}}}));
        QVERIFY(rig.finish(model.load()));
        QVERIFY(!model.referral());        // a failed fetch clears the figures
        QCOMPARE(model.plans().size(), 1); // the earlier catalogue stays
        QCOMPARE(model.stripeTrial(), 3);
        QVERIFY(!model.error());
        QCOMPARE(rig.count("configs"), 2); // and the cycle goes on
        QCOMPARE(rig.count("app/version"), 2);
    }

    void deviceLimitRefusalAndItsClearing() {
        ModelRig rig;
        rig.serveAccount();
        rig.api.defaults.setString("configs", QString::fromUtf8(replies::configs({"Кэш"})));
        AppModel& model = rig.make();
        rig.api.signIn();
        rig.service().enqueue("GET", "/api/v1/configs",
                              replies::refusal(403, "Достигнут лимит устройств", "device_limit"));
        QVERIFY(rig.finish(model.load()));
        QVERIFY(model.deviceLimit());
        QCOMPARE(model.error(), QStringLiteral("Достигнут лимит устройств"));
        QCOMPARE(names(model.profiles()), QStringList({"Кэш"}));
        QCOMPARE(rig.stored("configs"), QString::fromUtf8(replies::configs({"Кэш"})));
        QCOMPARE(rig.count("app/version"), 1);

        QVERIFY(rig.finish(model.load()));
        QVERIFY(!model.deviceLimit());
        QCOMPARE(names(model.profiles()), QStringList({"Амстердам", "Рига"}));
    }

    void otherServerListFailuresChangeNothing_data() {
        QTest::addColumn<ScriptedReply>("reply");
        QTest::newRow("refusal with another code") << replies::refusal(403, "Нет доступа", "forbidden");
        QTest::newRow("refusal without code") << replies::refusal(500, "Сбой");
        QTest::newRow("transport") << ScriptedReply::reset();
    }
    void otherServerListFailuresChangeNothing() {
        QFETCH(ScriptedReply, reply);
        ModelRig rig;
        rig.serveAccount();
        rig.api.defaults.setString("configs", QString::fromUtf8(replies::configs({"Кэш"})));
        AppModel& model = rig.make();
        rig.api.signIn();
        rig.service().on("GET", "/api/v1/configs", reply);
        QVERIFY(rig.finish(model.load()));
        QVERIFY(!model.deviceLimit());
        QVERIFY(!model.error());
        QCOMPARE(names(model.profiles()), QStringList({"Кэш"}));
        QCOMPARE(rig.stored("configs"), QString::fromUtf8(replies::configs({"Кэш"})));
    }

    void inactiveAccountKeepsTheCachedList() {
        ModelRig rig;
        rig.serveAccount(false);
        rig.api.defaults.setString("configs", QString::fromUtf8(replies::configs({"Кэш"})));
        AppModel& model = rig.make();
        rig.api.signIn();
        QVERIFY(rig.finish(model.load()));
        QCOMPARE(rig.calls(), QStringList({"me", "referral", "plans", "app/version"}));
        QCOMPARE(names(model.profiles()), QStringList({"Кэш"}));
        QCOMPARE(model.selected()->name, QStringLiteral("Кэш"));
    }

    void unreadableDocumentIsCachedAndEmptiesTheList() {
        ModelRig rig;
        rig.serveAccount(true, "not json");
        rig.api.defaults.setString("configs", QString::fromUtf8(replies::configs({"Кэш"})));
        AppModel& model = rig.make();
        rig.api.signIn();
        QVERIFY(rig.finish(model.load()));
        QCOMPARE(rig.stored("configs"), QStringLiteral("not json"));
        QVERIFY(model.profiles().isEmpty());
        QVERIFY(!model.selected());
    }

    void versionCheck() {
        ModelRig rig;
        rig.serveAccount();
        AppModel& model = rig.make();
        QSignalSpy updates(&model, &AppModel::updateChanged);
        const auto check = [&](qint64 code) {
            rig.service().on("GET", "/api/v1/app/version", ScriptedReply::json(200, replies::version(code)));
            return rig.finish(model.checkUpdate());
        };
        QVERIFY(check(ModelRig::build));
        QVERIFY(!model.update()); // the same build is no update
        QVERIFY(check(ModelRig::build + 2));
        QCOMPARE(model.update()->version_code, ModelRig::build + 2);
        QVERIFY(check(ModelRig::build - 1)); // older: the offer stays
        QCOMPARE(model.update()->version_code, ModelRig::build + 2);
        rig.service().on("GET", "/api/v1/app/version", ScriptedReply::reset());
        QVERIFY(rig.finish(model.checkUpdate()));
        QCOMPARE(model.update()->version_code, ModelRig::build + 2);
        QCOMPARE(updates.count(), 1);
        QVERIFY(!model.error());
    }

    void anUnchangedAccountIsNotRepublished() {
        ModelRig rig;
        rig.serveAccount();
        AppModel& model = rig.make();
        rig.api.signIn();
        QVERIFY(rig.finish(model.load()));
        const auto firstIds = model.profiles()[0].id;
        QSignalSpy plans(&model, &AppModel::plansChanged), tiers(&model, &AppModel::stripeTiersChanged),
            me(&model, &AppModel::meChanged), referral(&model, &AppModel::referralChanged),
            profiles(&model, &AppModel::profilesChanged), selected(&model, &AppModel::selectedChanged),
            card(&model, &AppModel::cardChanged);
        QVERIFY(rig.finish(model.load()));
        QCOMPARE(plans.count() + tiers.count() + me.count() + referral.count() + profiles.count() +
                     selected.count() + card.count(),
                 0);
        QCOMPARE(model.profiles()[0].id, firstIds); // the list's identities stay for the views

        rig.service().on("GET", "/api/v1/plans", ScriptedReply::json(200, replies::plans(349)));
        QVERIFY(rig.finish(model.load()));
        QCOMPARE(plans.count(), 1);
        QCOMPARE(tiers.count(), 0);
        QCOMPARE(model.plans()[0].price, 349);
    }

    void aServerWhoseSettingsChangedIsRepublished() {
        ModelRig rig;
        rig.serveAccount(true, replies::configs({"Амстердам"}, "old.example.net"));
        AppModel& model = rig.make();
        rig.api.signIn();
        QVERIFY(rig.finish(model.load()));
        QSignalSpy profiles(&model, &AppModel::profilesChanged);
        rig.service().on("GET", "/api/v1/configs",
                         ScriptedReply::text(200, replies::configs({"Амстердам"}, "new.example.net")));
        QVERIFY(rig.finish(model.load()));
        QCOMPARE(profiles.count(), 1);
        const auto address = [](const ServerProfile& profile) {
            return profile.config["outbounds"][0]["settings"]["vnext"][0]["address"].toString();
        };
        QCOMPARE(address(model.profiles()[0]), QStringLiteral("new.example.net"));
        QCOMPARE(address(*model.selected()), QStringLiteral("new.example.net"));
    }

    void overlappingLoadsStoreWholeDocuments() {
        ModelRig rig;
        rig.serveAccount();
        AppModel& model = rig.make();
        rig.api.signIn();
        const QByteArray slow = replies::configs({"Медленный-1", "Медленный-2"});
        const QByteArray fast = replies::configs({"Быстрый"});
        ScriptedReply late = ScriptedReply::text(200, slow);
        late.delay = std::chrono::milliseconds(150);
        rig.service().enqueue("GET", "/api/v1/configs", late);
        rig.service().enqueue("GET", "/api/v1/configs", ScriptedReply::text(200, fast));
        int finished = 0;
        const auto counted = [&finished](QCoro::Task<> task) -> QCoro::Task<> {
            co_await std::move(task);
            ++finished;
        };
        startMainTask(counted(model.load()));
        startMainTask(counted(model.load()));
        QVERIFY(drive([&] { return finished == 2; }, &rig.clock));
        // The last reply wins, and the cache is always the document the list came from.
        QCOMPARE(rig.stored("configs"), QString::fromUtf8(slow));
        QCOMPARE(names(model.profiles()), QStringList({"Медленный-1", "Медленный-2"}));
    }

    void aModelDestroyedMidLoadIsLeftAlone() {
        ModelRig rig;
        rig.serveAccount();
        ScriptedReply late = ScriptedReply::json(200, replies::me(true));
        late.delay = std::chrono::milliseconds(50);
        rig.service().on("GET", "/api/v1/me", late);
        AppModel& model = rig.make();
        rig.api.signIn();
        bool finished = false;
        startMainTask([](QCoro::Task<> task, bool& done) -> QCoro::Task<> {
            co_await std::move(task);
            done = true;
        }(model.load(), finished));
        rig.model.reset();
        QVERIFY(drive([&] { return finished; }, &rig.clock));
        QCOMPARE(rig.calls(), QStringList({"me"}));
    }

    // --- selection ---

    void selectingWhileOffOnlyRemembers() {
        ModelRig rig;
        rig.api.defaults.setString("configs", QString::fromUtf8(replies::configs({"Амстердам", "Рига"})));
        AppModel& model = rig.make();
        model.select(model.profiles()[1]);
        QCOMPARE(model.selected()->name, QStringLiteral("Рига"));
        QCOMPARE(rig.stored("profile_name"), QStringLiteral("Рига"));
        rig.settle();
        QVERIFY(rig.extensions.submissions.isEmpty());
        QVERIFY(!rig.tunnels.connection());
        QCOMPARE(rig.vpn->status(), Vpn::Status::Off);
    }

    void selectingWhileConnectingOrOnMovesTheTunnel_data() {
        QTest::addColumn<bool>("connected");
        QTest::newRow("connecting") << false;
        QTest::newRow("on") << true;
    }
    void selectingWhileConnectingOrOnMovesTheTunnel() {
        QFETCH(bool, connected);
        ModelRig rig;
        rig.tunnels.preload().fakeConnection()->setStatus(connected ? TunnelStatus::Connected
                                                                    : TunnelStatus::Connecting);
        rig.api.defaults.setString("configs", QString::fromUtf8(replies::configs({"Амстердам", "Рига"})));
        AppModel& model = rig.make();
        QCOMPARE(rig.vpn->status(), connected ? Vpn::Status::On : Vpn::Status::Connecting);
        model.select(model.profiles()[1]);
        QCOMPARE(rig.stored("profile_name"), QStringLiteral("Рига"));
        QVERIFY(drive(
            [&] {
                return rig.vpn->profileName() == QStringLiteral("Рига") &&
                       rig.vpn->status() == Vpn::Status::On && rig.stored("lastGood");
            },
            &rig.clock));
        QCOMPARE(rig.tunnels.connection()->startedServers.last(), QStringLiteral("Рига"));
        QCOMPARE(rig.stored("lastGood"), QStringLiteral("Рига"));
    }

    // --- the action wrapper ---

    void runReportsFailuresAndAlwaysEndsIdle_data() {
        QTest::addColumn<ScriptedReply>("reply");
        QTest::addColumn<QString>("shown");
        QTest::newRow("refusal shows the service's text")
            << replies::refusal(400, "Промокод уже использован") << "Промокод уже использован";
        QTest::newRow("transport shows the fallback") << ScriptedReply::reset() << "Промокод не сработал";
        QTest::newRow("decoding shows the fallback")
            << ScriptedReply::json(200, QJsonObject{{"message", "ok"}}) << "Промокод не сработал";
    }
    void runReportsFailuresAndAlwaysEndsIdle() {
        QFETCH(ScriptedReply, reply);
        QFETCH(QString, shown);
        ModelRig rig;
        rig.serveAccount();
        rig.api.signIn();
        rig.service().on("POST", "/api/v1/promo", reply);
        AppModel& model = rig.make();
        QVERIFY(rig.finish(model.load()));
        rig.service().clearRequests();
        QList<bool> busy;
        connect(&model, &AppModel::busyChanged, this, [&] { busy.append(model.busy()); });
        QList<std::optional<QString>> errors;
        connect(&model, &AppModel::errorChanged, this, [&] { errors.append(model.error()); });

        QVERIFY(rig.finish(model.applyPromo("CODE")));
        QCOMPARE(busy, QList<bool>({true, false}));
        QCOMPARE(model.error(), shown);
        QVERIFY(!model.message());
        // A failed action reloads nothing (a reset POST may be resent once by the network stack).
        QCOMPARE(rig.distinctCalls(), QSet<QString>({"promo"}));

        // The next action clears the error first.
        rig.service().on("POST", "/api/v1/promo",
                         ScriptedReply::json(200, QJsonObject{{"ok", true}, {"message", "+7 дней"}}));
        QVERIFY(rig.finish(model.applyPromo("CODE")));
        QCOMPARE(errors, QList<std::optional<QString>>({shown, std::nullopt}));
        QVERIFY(!model.busy());
    }
};

QTEST_GUILESS_MAIN(AppModelTest)
#include "tst_app_model.moc"
