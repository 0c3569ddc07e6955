// The sign-in flows: e-mail, new account, the Telegram bot and a token from a link.

#include "ModelRig.h"

#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

namespace {

ScriptedReply tokenReply(const QString& token) {
    return ScriptedReply::json(200, QJsonObject{{"token", token}});
}

ScriptedReply tgStart(const QString& url = QStringLiteral("https://t.me/vemko_bot?start=k1")) {
    return ScriptedReply::json(200, QJsonObject{{"key", "k1"}, {"url", url}});
}

} // namespace

class SignInTest : public QObject {
    Q_OBJECT

private slots:
    // --- e-mail and new account ---

    void emailSignInTrimsOnlySpacesAndTabs() {
        ModelRig rig;
        rig.serveAccount();
        rig.service().on("POST", "/api/v1/auth/login", tokenReply("tok-1"));
        AppModel& model = rig.make();
        // busy stays on until the load that follows the sign-in has ended
        std::optional<qsizetype> callsWhenIdle;
        connect(&model, &AppModel::busyChanged, this, [&] {
            if (!model.busy())
                callsWhenIdle = rig.calls().size();
        });

        QVERIFY(rig.finish(model.signIn(" \tuser@example.com \t", " pass word ")));
        const auto login = rig.service().requests("POST", "/api/v1/auth/login");
        QCOMPARE(login.size(), 1);
        QCOMPARE(login[0].json()["email"].toString(), QStringLiteral("user@example.com"));
        QCOMPARE(login[0].json()["password"].toString(), QStringLiteral(" pass word "));
        QCOMPARE(rig.stored("email"), QStringLiteral(" \tuser@example.com \t"));
        QCOMPARE(rig.token(), QStringLiteral("tok-1"));
        QVERIFY(model.signedIn() && model.me());
        QVERIFY(!model.message()); // the tabs appearing is the confirmation
        QCOMPARE(callsWhenIdle, rig.calls().size());
        QCOMPARE(rig.calls(),
                 QStringList({"auth/login", "me", "referral", "plans", "configs", "app/version"}));

        QVERIFY(rig.finish(model.signIn("user@example.com\n", "p")));
        QCOMPARE(rig.service().requests("POST", "/api/v1/auth/login")[1].json()["email"].toString(),
                 QStringLiteral("user@example.com\n"));
    }

    void signUpUsesTheRegisterEndpoint() {
        ModelRig rig;
        rig.serveAccount();
        rig.service().on("POST", "/api/v1/auth/register", tokenReply("tok-new"));
        AppModel& model = rig.make();
        QVERIFY(rig.finish(model.signUp(" new@example.com", "secret")));
        QCOMPARE(rig.service().requests("POST", "/api/v1/auth/register")[0].json()["email"].toString(),
                 QStringLiteral("new@example.com"));
        QCOMPARE(rig.stored("email"), QStringLiteral(" new@example.com"));
        QCOMPARE(rig.token(), QStringLiteral("tok-new"));
        QVERIFY(model.signedIn() && !model.busy());
    }

    void accountSignInFailures_data() {
        QTest::addColumn<bool>("create");
        QTest::addColumn<ScriptedReply>("reply");
        QTest::addColumn<QString>("shown");
        QTest::newRow("wrong password")
            << false << replies::refusal(401, "Неверный пароль") << "Неверный пароль";
        QTest::newRow("sign-in transport") << false << ScriptedReply::reset() << "Не удалось войти";
        QTest::newRow("sign-in decoding")
            << false << ScriptedReply::json(200, QJsonObject{}) << "Не удалось войти";
        QTest::newRow("address taken")
            << true << replies::refusal(409, "Адрес уже занят") << "Адрес уже занят";
        QTest::newRow("sign-up transport") << true << ScriptedReply::reset() << "Не удалось создать аккаунт";
    }
    void accountSignInFailures() {
        QFETCH(bool, create);
        QFETCH(ScriptedReply, reply);
        QFETCH(QString, shown);
        ModelRig rig;
        rig.serveAccount();
        rig.service().on("POST", create ? "/api/v1/auth/register" : "/api/v1/auth/login", reply);
        AppModel& model = rig.make();
        QVERIFY(rig.finish(create ? model.signUp("a@b.ru", "p") : model.signIn("a@b.ru", "p")));
        QCOMPARE(model.error(), shown);
        QVERIFY(!model.busy() && !model.signedIn());
        QVERIFY(!rig.token());
        QVERIFY(!rig.stored("email"));
        QVERIFY(!rig.calls().contains("me"));
    }

    // --- Telegram ---

    void telegramConfirmedOnTheLastPoll() {
        ModelRig rig;
        rig.serveAccount();
        rig.service().on("POST", "/api/v1/auth/tg/start", tgStart());
        for (int i = 0; i < 149; ++i)
            rig.service().enqueue("GET", "/api/v1/auth/tg/poll", ScriptedReply::empty(204));
        rig.service().enqueue("GET", "/api/v1/auth/tg/poll", tokenReply("tg-token"));
        AppModel& model = rig.make();
        QList<QUrl> opened;
        QVERIFY(rig.finish(model.signInWithTelegram([&](QUrl url) { opened.append(url); })));

        QCOMPARE(opened, QList<QUrl>({QUrl("https://t.me/vemko_bot?start=k1")}));
        const auto polls = rig.service().requests("GET", "/api/v1/auth/tg/poll");
        QCOMPARE(polls.size(), 150);
        QCOMPARE(polls[0].path, QByteArray("/api/v1/auth/tg/poll?key=k1"));
        QCOMPARE(rig.clock.elapsed(), 300s);
        QCOMPARE(rig.token(), QStringLiteral("tg-token"));
        QVERIFY(model.signedIn() && model.me());
        QCOMPARE(model.message(), QStringLiteral("Вход выполнен"));
        QVERIFY(!model.error() && !model.busy());
    }

    void telegramGivesUpAfter150Polls() {
        ModelRig rig;
        rig.serveAccount();
        rig.service().on("POST", "/api/v1/auth/tg/start", tgStart());
        rig.service().on("GET", "/api/v1/auth/tg/poll", ScriptedReply::empty(204));
        AppModel& model = rig.make();
        QSignalSpy busy(&model, &AppModel::busyChanged);
        QVERIFY(rig.finish(model.signInWithTelegram([](QUrl) {})));
        QCOMPARE(rig.service().requests("GET", "/api/v1/auth/tg/poll").size(), 150);
        QCOMPARE(rig.clock.elapsed(), 300s);
        QCOMPARE(model.error(), QStringLiteral("Вход не подтверждён, попробуйте ещё раз"));
        QVERIFY(!model.busy() && !model.signedIn() && !model.message());
        QCOMPARE(busy.count(), 2);
        QVERIFY(!rig.token());
    }

    void telegramPollFailuresEndAtOnce_data() {
        QTest::addColumn<ScriptedReply>("reply");
        QTest::addColumn<QString>("shown");
        QTest::newRow("transport") << ScriptedReply::reset() << "Не получилось начать вход";
        QTest::newRow("expired") << replies::refusal(410, "Своё") << "Ссылка для входа устарела";
        QTest::newRow("no token in reply")
            << ScriptedReply::json(200, QJsonObject{}) << "Не получилось начать вход";
    }
    void telegramPollFailuresEndAtOnce() {
        QFETCH(ScriptedReply, reply);
        QFETCH(QString, shown);
        ModelRig rig;
        rig.service().on("POST", "/api/v1/auth/tg/start", tgStart());
        rig.service().enqueue("GET", "/api/v1/auth/tg/poll", ScriptedReply::empty(204));
        rig.service().on("GET", "/api/v1/auth/tg/poll", reply);
        AppModel& model = rig.make();
        QVERIFY(rig.finish(model.signInWithTelegram([](QUrl) {})));
        QCOMPARE(model.error(), shown);
        QCOMPARE(rig.clock.elapsed(), 4s); // no retry, no further wait
        QVERIFY(!model.busy() && !model.signedIn() && !rig.token());
    }

    void telegramStartFailures_data() {
        QTest::addColumn<ScriptedReply>("reply");
        QTest::addColumn<QString>("shown");
        QTest::newRow("refusal") << replies::refusal(429, "Слишком часто") << "Слишком часто";
        QTest::newRow("transport") << ScriptedReply::reset() << "Не получилось начать вход";
    }
    void telegramStartFailures() {
        QFETCH(ScriptedReply, reply);
        QFETCH(QString, shown);
        ModelRig rig;
        rig.service().on("POST", "/api/v1/auth/tg/start", reply);
        AppModel& model = rig.make();
        bool opened = false;
        QVERIFY(rig.finish(model.signInWithTelegram([&](QUrl) { opened = true; })));
        QCOMPARE(model.error(), shown);
        QVERIFY(!opened && !model.busy());
        QVERIFY(rig.service().requests("GET", "/api/v1/auth/tg/poll").isEmpty());
    }

    void telegramLinksThatAreNotOpened_data() {
        QTest::addColumn<QString>("url");
        QTest::newRow("not a URL") << "not a url";
        QTest::newRow("empty") << "";
        QTest::newRow("relative") << "t.me/vemko_bot";
        QTest::newRow("local file") << "file:///etc/passwd";
    }
    void telegramLinksThatAreNotOpened() {
        QFETCH(QString, url);
        ModelRig rig;
        rig.serveAccount();
        rig.service().on("POST", "/api/v1/auth/tg/start", tgStart(url));
        rig.service().enqueue("GET", "/api/v1/auth/tg/poll", ScriptedReply::empty(204));
        rig.service().enqueue("GET", "/api/v1/auth/tg/poll", tokenReply("tg-token"));
        AppModel& model = rig.make();
        bool opened = false;
        QVERIFY(rig.finish(model.signInWithTelegram([&](QUrl) { opened = true; })));
        QVERIFY(!opened);
        QVERIFY(model.signedIn()); // still polled, and confirmed
        QVERIFY(!model.error());
    }

    // --- token from a link ---

    void tokenSignInSetsTheAccountBeforeLoading() {
        ModelRig rig;
        rig.serveAccount();
        AppModel& model = rig.make();
        std::optional<qsizetype> callsWhenAccountSet;
        connect(&model, &AppModel::meChanged, this, [&] {
            if (!callsWhenAccountSet)
                callsWhenAccountSet = rig.calls().size();
        });
        QSignalSpy busy(&model, &AppModel::busyChanged);
        QVERIFY(rig.finish(model.signInWithToken("link-token")));
        QCOMPARE(callsWhenAccountSet, 1); // only its own account request so far
        QCOMPARE(rig.calls(), QStringList({"me", "me", "referral", "plans", "configs", "app/version"}));
        QCOMPARE(rig.service().requests("GET", "/api/v1/me")[0].header("Authorization"),
                 QByteArray("Bearer link-token"));
        QCOMPARE(rig.token(), QStringLiteral("link-token"));
        QVERIFY(model.signedIn());
        QCOMPARE(model.message(), QStringLiteral("Вход выполнен"));
        QCOMPARE(busy.count(), 0); // not a wrapped action
    }

    void rejectedTokenRestoresTheEarlierState_data() {
        QTest::addColumn<QString>("earlier"); // empty: signed out
        QTest::addColumn<ScriptedReply>("reply");
        QTest::addColumn<QString>("shown");
        QTest::newRow("signed out, refused")
            << "" << replies::refusal(401, "Ссылка недействительна") << "Ссылка недействительна";
        QTest::newRow("signed out, transport") << "" << ScriptedReply::reset() << "Ссылка входа не сработала";
        QTest::newRow("signed in, refused")
            << "old-token" << replies::refusal(401, "Ссылка недействительна") << "Ссылка недействительна";
        QTest::newRow("signed in, decoding")
            << "old-token" << ScriptedReply::json(200, QJsonObject{}) << "Ссылка входа не сработала";
    }
    void rejectedTokenRestoresTheEarlierState() {
        QFETCH(QString, earlier);
        QFETCH(ScriptedReply, reply);
        QFETCH(QString, shown);
        ModelRig rig;
        rig.service().on("GET", "/api/v1/me", reply);
        AppModel& model = rig.make();
        if (!earlier.isEmpty()) {
            // signed in as a completed sign-in leaves it
            rig.service().enqueue("POST", "/api/v1/auth/login", tokenReply(earlier));
            QVERIFY(rig.finish(model.signIn("a@b.ru", "p")));
            QVERIFY(model.signedIn());
        }
        QVERIFY(rig.finish(model.signInWithToken("bad-token")));
        QCOMPARE(rig.token(), earlier.isEmpty() ? std::nullopt : std::optional<QString>(earlier));
        QCOMPARE(model.signedIn(), !earlier.isEmpty());
        QCOMPARE(model.error(), shown);
        QVERIFY(!model.message());
    }

    void aTokenStoredMeanwhileIsNotOverwritten() {
        ModelRig rig;
        ScriptedReply slow = replies::refusal(401, "Ссылка недействительна");
        slow.delay = 100ms;
        rig.service().on("GET", "/api/v1/me", slow);
        AppModel& model = rig.make();
        bool done = false;
        startMainTask([](QCoro::Task<> task, bool& flag) -> QCoro::Task<> {
            co_await std::move(task);
            flag = true;
        }(model.signInWithToken("bad-token"), done));
        // Another sign-in completes while the link's token is being checked.
        rig.api.keychain.write("token", "fresh-token");
        QVERIFY(drive([&] { return done; }, &rig.clock));
        QCOMPARE(rig.token(), QStringLiteral("fresh-token"));
        QVERIFY(model.signedIn());
        QCOMPARE(model.error(), QStringLiteral("Ссылка недействительна"));
    }
};

QTEST_GUILESS_MAIN(SignInTest)
#include "tst_sign_in.moc"
