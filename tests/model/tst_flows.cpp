// The account's flows over the real model: signing in (e-mail, new account, the Telegram bot, a
// token from a link), then the subscription and payments (trial, promo code, unbinding, card
// checkout, one-off payment and its confirmation).

#include "ModelRig.h"

#include <QTest>

namespace {

ScriptedReply tokenReply(const QString& token) {
    return ok(QString(R"({"token":"%1"})").arg(token));
}

ScriptedReply order(qint64 id, const QString& url = QStringLiteral("https://pay.example/1")) {
    return ok(QString(R"({"order_id":%1,"amount":299,"url":"%2"})").arg(id).arg(url));
}

ScriptedReply payStatus(const QString& status) {
    return ok(QString(R"({"status":"%1"})").arg(status));
}

// One action, the reply to its request, and what the user sees: the page opened, the message
// (which comes with a reload) or the error; empty for none.
struct Step {
    QString action; // also its path
    ScriptedReply reply;
    QString opened = {}, message = {}, shown = {};
};

} // namespace

class FlowsTest : public QObject {
    Q_OBJECT

private slots:
    void accountSignIn_data() {
        QTest::addColumn<bool>("create");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("sent");
        const auto row = [](const char* name, bool create, const char* typed, const char* sent) {
            QTest::newRow(name) << create << QString(typed) << QString(sent);
        };
        row("spaces and tabs trimmed", false, " \tuser@example.com \t", "user@example.com");
        row("a line break is left to the service", false, "a@b.ru\n", "a@b.ru\n");
        row("new account", true, " new@example.com", "new@example.com");
    }
    void accountSignIn() {
        QFETCH(bool, create);
        QFETCH(QString, typed);
        QFETCH(QString, sent);
        ModelRig rig;
        rig.serveAccount();
        const QByteArray path = create ? "/api/v1/auth/register" : "/api/v1/auth/login";
        rig.service().on("POST", path, tokenReply("tok-1"));
        AppModel& model = rig.make();
        std::optional<qsizetype> callsWhenIdle; // busy lasts until the load that follows has ended
        connect(&model, &AppModel::busyChanged, this, [&] {
            if (!model.busy())
                callsWhenIdle = rig.calls().size();
        });
        QVERIFY(rig.finish(create ? model.signUp(typed, " pass word ") : model.signIn(typed, " pass word ")));
        const QJsonObject request = rig.service().requests("POST", path)[0].json().toObject();
        QCOMPARE(request["email"].toString(), sent);
        QCOMPARE(request["password"].toString(), QStringLiteral(" pass word "));
        QCOMPARE(rig.stored("email"), typed); // the field shows again exactly what was typed
        QCOMPARE(rig.token(), QStringLiteral("tok-1"));
        QVERIFY(model.signedIn() && model.me() && !model.message());
        QCOMPARE(rig.calls(), QStringList{QString::fromUtf8(path.mid(8))} + fullLoad);
        QCOMPARE(callsWhenIdle, rig.calls().size());
    }

    void telegram_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("polls"); // until confirmed; 0: never confirmed
        QTest::addColumn<bool>("opened");
        const QString bot = QStringLiteral("https://t.me/vemko_bot?start=k1");
        QTest::newRow("confirmed on the 149th poll") << bot << 149 << true;
        QTest::newRow("confirmed on the last poll") << bot << 150 << true;
        QTest::newRow("never confirmed") << bot << 0 << true;
        QTest::newRow("not a URL: still polls") << "not a url" << 2 << false;
        QTest::newRow("empty") << "" << 2 << false;
        QTest::newRow("relative") << "t.me/vemko_bot" << 2 << false;
        QTest::newRow("local file") << "file:///etc/passwd" << 2 << false;
    }
    void telegram() {
        QFETCH(QString, url);
        QFETCH(int, polls);
        QFETCH(bool, opened);
        ModelRig rig;
        rig.serveAccount();
        rig.service().on("POST", "/api/v1/auth/tg/start",
                         ScriptedReply::json(200, QJsonObject{{"key", "k1"}, {"url", url}}));
        for (int i = 1; i < polls; ++i)
            rig.service().enqueue("GET", "/api/v1/auth/tg/poll", ScriptedReply::empty(204));
        rig.service().on("GET", "/api/v1/auth/tg/poll",
                         polls ? tokenReply("tg-token") : ScriptedReply::empty(204));
        AppModel& model = rig.make();
        QList<QUrl> shown;
        QVERIFY(rig.finish(model.signInWithTelegram([&](QUrl link) { shown.append(link); })));

        QCOMPARE(shown, opened ? QList<QUrl>{QUrl(url)} : QList<QUrl>());
        const auto requests = rig.service().requests("GET", "/api/v1/auth/tg/poll");
        QCOMPARE(requests.size(), polls ? polls : 150);
        QCOMPARE(requests[0].path, QByteArray("/api/v1/auth/tg/poll?key=k1"));
        QCOMPARE(rig.clock.elapsed(), 2s * requests.size());
        QCOMPARE(rig.token(), polls ? std::optional<QString>("tg-token") : std::nullopt);
        QCOMPARE(model.signedIn(), polls != 0);
        QCOMPARE(model.message(), maybe(polls ? "Вход выполнен" : ""));
        QCOMPARE(model.error(), maybe(polls ? "" : "Вход не подтверждён, попробуйте ещё раз"));
        QVERIFY(!model.busy());
    }

    // Every failing step ends the flow at once, signed out, with nothing stored.
    void failures_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<ScriptedReply>("reply");
        QTest::addColumn<QString>("shown");
        const auto row = [](const char* name, const char* path, ScriptedReply reply, const char* shown) {
            QTest::newRow(name) << QString(path) << reply << QString(shown);
        };
        row("wrong password", "login", refusal(401, "Неверный пароль"), "Неверный пароль");
        row("sign-in transport", "login", ScriptedReply::reset(), "Не удалось войти");
        row("sign-in decoding", "login", ok("{}"), "Не удалось войти");
        row("address taken", "register", refusal(409, "Адрес уже занят"), "Адрес уже занят");
        row("sign-up transport", "register", ScriptedReply::reset(), "Не удалось создать аккаунт");
        row("bot refused", "tg/start", refusal(429, "Слишком часто"), "Слишком часто");
        row("bot transport", "tg/start", ScriptedReply::reset(), "Не получилось начать вход");
        row("poll transport", "tg/poll", ScriptedReply::reset(), "Не получилось начать вход");
        row("poll expired", "tg/poll", refusal(410, "Своё"), "Ссылка для входа устарела");
        row("poll decoding", "tg/poll", ok("{}"), "Не получилось начать вход");
    }
    void failures() {
        QFETCH(QString, path);
        QFETCH(ScriptedReply, reply);
        QFETCH(QString, shown);
        ModelRig rig;
        rig.serveAccount();
        rig.service().on("POST", "/api/v1/auth/tg/start", ok("{\"key\":\"k1\",\"url\":\"https://t.me/b\"}"));
        rig.service().on(path == "tg/poll" ? "GET" : "POST", "/api/v1/auth/" + path.toUtf8(), reply);
        AppModel& model = rig.make();
        QVERIFY(rig.finish(path == "login"      ? model.signIn("a@b.ru", "p")
                           : path == "register" ? model.signUp("a@b.ru", "p")
                                                : model.signInWithTelegram({})));
        QCOMPARE(model.error(), shown);
        QCOMPARE(rig.clock.elapsed(), path == "tg/poll" ? 2s : 0s); // no retry, no further wait
        QVERIFY(!model.busy() && !model.signedIn() && !rig.token() && !rig.stored("email"));
        QVERIFY(!rig.calls().contains("me"));
    }

    // The link's token is written first so that its account request carries it; a refused token
    // gives back the earlier one.
    void tokenSignIn_data() {
        QTest::addColumn<QString>("earlier"); // empty: signed out
        QTest::addColumn<ScriptedReply>("reply");
        QTest::addColumn<QString>("shown"); // empty: signed in
        const ScriptedReply refused = refusal(401, "Ссылка недействительна");
        const QString fallback = QStringLiteral("Ссылка входа не сработала");
        QTest::newRow("accepted") << "" << me() << "";
        QTest::newRow("accepted over another") << "old-token" << me() << "";
        QTest::newRow("signed out, refused") << "" << refused << "Ссылка недействительна";
        QTest::newRow("signed out, transport") << "" << ScriptedReply::reset() << fallback;
        QTest::newRow("signed in, refused") << "old-token" << refused << "Ссылка недействительна";
        QTest::newRow("signed in, decoding") << "old-token" << ok("{}") << fallback;
    }
    void tokenSignIn() {
        QFETCH(QString, earlier);
        QFETCH(ScriptedReply, reply);
        QFETCH(QString, shown);
        ModelRig rig;
        rig.serveAccount();
        rig.service().on("GET", "/api/v1/me", reply);
        AppModel& model = rig.make();
        if (!earlier.isEmpty())
            rig.api.signIn(earlier);
        QVERIFY(rig.finish(model.signInWithToken("link-token")));
        QCOMPARE(rig.service().requests("GET", "/api/v1/me")[0].header("Authorization"),
                 QByteArray("Bearer link-token"));
        QCOMPARE(rig.token(), shown.isEmpty() ? QString("link-token") : maybe(earlier));
        QCOMPARE(model.signedIn(), shown.isEmpty() || !earlier.isEmpty());
        QCOMPARE(model.error(), maybe(shown));
        QCOMPARE(model.message(), maybe(shown.isEmpty() ? "Вход выполнен" : ""));
        if (shown.isEmpty())
            QCOMPARE(rig.calls(), QStringList{"me"} + fullLoad);
    }

    // A desktop whose secret store refuses the token (none installed, locked): the sign-in has
    // not happened, and says why, instead of showing an account that cannot load.
    void aRefusedSecretStoreSignsNobodyIn_data() {
        QTest::addColumn<QString>("way");
        QTest::newRow("e-mail") << "login";
        QTest::newRow("telegram") << "tg";
        QTest::newRow("link") << "link";
    }
    void aRefusedSecretStoreSignsNobodyIn() {
        QFETCH(QString, way);
        ModelRig rig;
        rig.serveAccount();
        rig.service().on("POST", "/api/v1/auth/login", tokenReply("tok-1"));
        rig.service().on("POST", "/api/v1/auth/tg/start", ok("{\"key\":\"k1\",\"url\":\"https://t.me/b\"}"));
        rig.service().on("GET", "/api/v1/auth/tg/poll", tokenReply("tok-1"));
        rig.api.secure.refuseWrites = true;
        AppModel& model = rig.make();
        QVERIFY(rig.finish(way == "login" ? model.signIn("a@b.ru", "password")
                           : way == "tg"  ? model.signInWithTelegram({})
                                          : model.signInWithToken("link-token")));
        QVERIFY(model.error() && model.error()->startsWith("Не удалось сохранить вход"));
        QVERIFY(!model.busy() && !model.signedIn() && !rig.token() && !model.me());
        QVERIFY(!rig.calls().contains("me"));
    }

    void aTokenStoredMeanwhileIsNotOverwritten() {
        ModelRig rig;
        ScriptedReply slow = refusal(401, "Ссылка недействительна");
        slow.delay = 100ms;
        rig.service().on("GET", "/api/v1/me", slow);
        AppModel& model = rig.make();
        const auto done = spawn(model.signInWithToken("bad-token"));
        QVERIFY(rig.api.keychain.write("token", "fresh-token")); // another sign-in completes meanwhile
        QVERIFY(drive([&] { return *done; }, &rig.clock));
        QCOMPARE(rig.token(), QStringLiteral("fresh-token"));
        QVERIFY(model.signedIn());
    }

    void actions_data() {
        QTest::addColumn<Step>("step");
        const auto checkout = [](const char* url) {
            return ok(QString(R"({"url":"%1"})").arg(url));
        };
        const auto row = [](const char* name, Step step) {
            QTest::newRow(name) << step;
        };
        const char* stripe = "https://checkout.stripe.com/c/s1";
        row("trial", {"trial", ScriptedReply::text(200, "not json"), {}, "Пробный доступ включён"});
        row("trial refused", {"trial", refusal(409, "Уже был"), {}, {}, "Уже был"});
        row("trial offline", {"trial", ScriptedReply::reset(), {}, {}, "Не удалось включить пробный день"});
        row("promo not ok still speaks and reloads",
            {"promo", ok(R"({"ok":false,"message":"Код истёк"})"), {}, "Код истёк"});
        row("unbind offline",
            {"devices/delete", ScriptedReply::reset(), {}, {}, "Не удалось отвязать устройство"});
        row("card checkout", {"subscribe/stripe", checkout(stripe), stripe});
        row("checkout in another program", {"subscribe/stripe", checkout("file:///x.desktop")});
        row("checkout refused", {"subscribe/stripe", refusal(400, "Недоступно"), {}, {}, "Недоступно"});
        row("checkout offline",
            {"subscribe/stripe", ScriptedReply::reset(), {}, {}, "Не удалось открыть оплату картой"});
        row("payment", {"pay", order(1234), "https://pay.example/1"});
        row("payment page not a URL", {"pay", order(1234, "bad url")});
        row("payment offline", {"pay", ScriptedReply::reset(), {}, {}, "Не удалось создать платёж"});
    }
    void actions() {
        QFETCH(Step, step);
        ModelRig rig;
        AppModel& model = rig.loaded();
        rig.service().on("POST", "/api/v1/" + step.action.toUtf8(), step.reply);
        QList<QUrl> pages;
        const AppModel::OpenUrl open = [&](QUrl url) {
            pages.append(url);
        };
        const QString& action = step.action;
        QVERIFY(rig.finish(action == "trial"              ? model.takeTrial()
                           : action == "promo"            ? model.applyPromo("CODE")
                           : action == "devices/delete"   ? model.unbind("hw-2")
                           : action == "subscribe/stripe" ? model.subscribeStripe(3, "year", open)
                                                          : model.pay("m1", "sbp", open)));
        QCOMPARE(pages, step.opened.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl(step.opened)});
        QCOMPARE(model.message(), maybe(step.message));
        QCOMPARE(model.error(), maybe(step.shown));
        // Only a message comes with a reload.
        QCOMPARE(rig.distinctCalls(),
                 QSet<QString>{action} + (step.message.isEmpty()
                                              ? QSet<QString>()
                                              : QSet<QString>(fullLoad.begin(), fullLoad.end())));
        // The order is kept even when its page cannot be opened.
        QCOMPARE(model.pendingOrder(),
                 action == "pay" && step.shown.isEmpty() ? std::optional<qint64>(1234) : std::nullopt);
        QVERIFY(!model.busy());
    }

    void unbindingClearsTheBannerBeforeTheReload() {
        ModelRig rig;
        rig.serveAccount();
        rig.service().on("GET", "/api/v1/configs", refusal(403, "Лимит устройств", "device_limit"));
        AppModel& model = rig.make();
        rig.api.signIn();
        QVERIFY(rig.finish(model.load()));
        QVERIFY(model.deviceLimit());
        rig.service().clearRequests();
        rig.service().on("POST", "/api/v1/devices/delete", ScriptedReply::empty(200));
        rig.service().on("GET", "/api/v1/me", ScriptedReply::reset()); // the reload fails
        std::optional<QStringList> callsWhenCleared;
        connect(&model, &AppModel::deviceLimitChanged, this, [&] { callsWhenCleared = rig.calls(); });

        QVERIFY(rig.finish(model.unbind("hw-2")));
        QCOMPARE(rig.service().requests("POST", "/api/v1/devices/delete")[0].json()["hwid"].toString(),
                 QStringLiteral("hw-2"));
        QVERIFY(!model.deviceLimit());
        QCOMPARE(callsWhenCleared, QStringList({"devices/delete"}));
        QVERIFY(rig.calls().contains("me"));
        QCOMPARE(model.message(), QStringLiteral("Устройство отвязано"));
    }

    void paymentConfirmation_data() {
        QTest::addColumn<QList<ScriptedReply>>("statuses"); // the last one repeats
        QTest::addColumn<int>("requests");
        QTest::addColumn<bool>("paid");
        QTest::newRow("paid on the third status")
            << QList<ScriptedReply>{payStatus("pending"), refusal(500, "Сбой"), payStatus("paid")} << 3
            << true;
        QTest::newRow("never paid") << QList<ScriptedReply>{payStatus("pending")} << 40 << false;
        QTest::newRow("\"Paid\" is not \"paid\"") << QList<ScriptedReply>{payStatus("Paid")} << 40 << false;
        QTest::newRow("service down") << QList<ScriptedReply>{ScriptedReply::empty(503)} << 40 << false;
    }
    void paymentConfirmation() {
        QFETCH(QList<ScriptedReply>, statuses);
        QFETCH(int, requests);
        QFETCH(bool, paid);
        ModelRig rig;
        AppModel& model = rig.loaded();
        QVERIFY(rig.finish(model.checkPayment())); // no order yet: no request
        QCOMPARE(rig.calls(), QStringList());
        rig.service().on("POST", "/api/v1/pay", order(77));
        QVERIFY(rig.finish(model.pay("m1", "sbp", {})));
        rig.service().clearRequests();
        for (const ScriptedReply& status : statuses.mid(0, statuses.size() - 1))
            rig.service().enqueue("GET", "/api/v1/pay/77", status);
        rig.service().on("GET", "/api/v1/pay/77", statuses.last());
        const auto start = rig.clock.elapsed();

        QVERIFY(rig.finish(model.checkPayment()));
        QCOMPARE(rig.calls(), QStringList(requests, "pay/77") + (paid ? fullLoad : QStringList()));
        if (paid)
            QCOMPARE(rig.clock.elapsed() - start, 6s);
        QCOMPARE(model.pendingOrder(), paid ? std::nullopt : std::optional<qint64>(77));
        QCOMPARE(model.message(), maybe(paid ? "Оплата прошла, подписка продлена" : ""));
        QVERIFY(!model.error() && !model.busy());
    }

    void aNewerOrderStaysPending() {
        ModelRig rig;
        AppModel& model = rig.loaded();
        rig.service().enqueue("POST", "/api/v1/pay", order(1));
        rig.service().enqueue("POST", "/api/v1/pay", order(2));
        QVERIFY(rig.finish(model.pay("m1", "sbp", {})));
        rig.service().enqueue("GET", "/api/v1/pay/1", payStatus("pending"));
        rig.service().on("GET", "/api/v1/pay/1", payStatus("paid"));
        const auto done = spawn(model.checkPayment());
        QVERIFY(drive([&] { return rig.count("pay/1") == 1; }));
        QVERIFY(rig.finish(model.pay("m1", "sbp", {}))); // a second payment meanwhile
        QVERIFY(drive([&] { return *done; }, &rig.clock));
        QCOMPARE(model.message(), QStringLiteral("Оплата прошла, подписка продлена"));
        QCOMPARE(model.pendingOrder(), 2);
    }
};

QTEST_GUILESS_MAIN(FlowsTest)
#include "tst_flows.moc"
