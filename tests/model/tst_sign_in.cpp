// The sign-in flows: e-mail, new account, the Telegram bot and a token from a link.

#include "ModelRig.h"

#include <QTest>

namespace {

ScriptedReply tokenReply(const QString& token) {
    return ok(QString(R"({"token":"%1"})").arg(token));
}

} // namespace

class SignInTest : public QObject {
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
};

QTEST_GUILESS_MAIN(SignInTest)
#include "tst_sign_in.moc"
