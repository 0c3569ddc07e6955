// Every endpoint against the test service: method, path, token, body, and what comes back.

#include "support/ApiFixture.h"
#include "support/Drive.h"

#include <QJsonArray>
#include <QTest>
#include <functional>

namespace {

struct Endpoint {
    const char* name;
    QByteArray method;
    QByteArray path;
    bool token;
    QJsonObject body; // empty: no body and no Content-Type
    QJsonObject reply;
    std::function<bool(Api&)> call; // true when the result matches `reply`
};

template <typename T> bool ran(QCoro::Task<T> task, const std::function<bool(const T&)>& check) {
    const auto result = runTask(std::move(task));
    return result && check(*result);
}

QJsonObject meJson() {
    return QJsonObject{{"email", "a@b.c"},
                       {"active", true},
                       {"expire_at", "2026-03-01T00:00:00Z"},
                       {"devices_limit", 3},
                       {"devices_used", 1},
                       {"devices", QJsonArray{QJsonObject{{"hwid", "h1"}, {"model", "X1"}}}},
                       {"trial_available", false},
                       {"promo_available", true},
                       {"support_url", "https://t.me/help"}};
}

QList<Endpoint> endpoints() {
    const QJsonObject token{{"token", "T-1"}};
    return {
        {"login",
         "POST",
         "/api/v1/auth/login",
         false,
         {{"email", "a@b.c"}, {"password", "pw"}},
         token,
         [](Api& api) {
             return ran<QString>(api.login("a@b.c", "pw"), [](const QString& t) { return t == "T-1"; });
         }},
        {"register",
         "POST",
         "/api/v1/auth/register",
         false,
         {{"email", "a@b.c"}, {"password", "pw"}},
         token,
         [](Api& api) {
             return ran<QString>(api.registerAccount("a@b.c", "pw"),
                                 [](const QString& t) { return t == "T-1"; });
         }},
        {"tgStart",
         "POST",
         "/api/v1/auth/tg/start",
         false,
         {},
         {{"key", "k1"}, {"url", "https://t.me/x"}},
         [](Api& api) {
             return ran<TgStart>(api.tgStart(),
                                 [](const TgStart& s) { return s.key == "k1" && s.url == "https://t.me/x"; });
         }},
        {"tgPoll",
         "GET",
         "/api/v1/auth/tg/poll?key=k1",
         false,
         {},
         token,
         [](Api& api) {
             return ran<std::optional<QString>>(api.tgPoll("k1"),
                                                [](const auto& t) { return t == QString("T-1"); });
         }},
        {"me",
         "GET",
         "/api/v1/me",
         true,
         {},
         meJson(),
         [](Api& api) {
             return ran<Me>(api.me(), [](const Me& me) {
                 return me.email == QString("a@b.c") && !me.telegram && me.devices.size() == 1 &&
                        me.devices[0].model == QString("X1") && me.support_url == "https://t.me/help";
             });
         }},
        {"plans",
         "GET",
         "/api/v1/plans",
         false,
         {},
         {{"plans", QJsonArray{}},
          {"payments", false},
          {"card", false},
          {"stripe_tiers", QJsonArray{}},
          {"stripe_trial_days", 0}},
         [](Api& api) {
             return ran<Plans>(api.plans(), [](const Plans& p) { return p.plans.isEmpty() && !p.card; });
         }},
        {"referral",
         "GET",
         "/api/v1/referral",
         true,
         {},
         {{"code", "R"},
          {"link", "https://vemko.app/r/R"},
          {"invited", 4},
          {"paid", 1},
          {"days", 9},
          {"days_invite", 1},
          {"days_paid", 7},
          {"days_friend", 3}},
         [](Api& api) {
             return ran<Referral>(api.referral(),
                                  [](const Referral& r) { return r.invited == 4 && r.days_friend == 3; });
         }},
        {"trial",
         "POST",
         "/api/v1/trial",
         true,
         {},
         {},
         [](Api& api) {
             return runTask(api.trial());
         }},
        {"promo",
         "POST",
         "/api/v1/promo",
         true,
         {{"code", "SPRING"}},
         {{"ok", true}, {"message", "Принято"}},
         [](Api& api) {
             return ran<PromoResp>(api.promo("SPRING"),
                                   [](const PromoResp& p) { return p.ok && p.message == "Принято"; });
         }},
        {"deleteDevice",
         "POST",
         "/api/v1/devices/delete",
         true,
         {{"hwid", "h1"}},
         {},
         [](Api& api) {
             return runTask(api.deleteDevice("h1"));
         }},
        {"pay",
         "POST",
         "/api/v1/pay",
         true,
         {{"plan", "m1"}, {"method", "sbp"}},
         {{"order_id", 1234}, {"amount", 199}, {"url", "https://pay"}},
         [](Api& api) {
             return ran<PayResp>(api.pay("m1", "sbp"),
                                 [](const PayResp& p) { return p.order_id == 1234 && p.amount == 199; });
         }},
        {"subscribeStripe",
         "POST",
         "/api/v1/subscribe/stripe",
         true,
         {{"devices", 5}, {"interval", "year"}},
         {{"url", "https://checkout"}},
         [](Api& api) {
             return ran<StripeUrl>(api.subscribeStripe(5, "year"),
                                   [](const StripeUrl& s) { return s.url == "https://checkout"; });
         }},
        {"payStatus",
         "GET",
         "/api/v1/pay/1234",
         true,
         {},
         {{"status", "paid"}},
         [](Api& api) {
             return ran<PayStatus>(api.payStatus(1234),
                                   [](const PayStatus& s) { return s.status == "paid"; });
         }},
        {"appVersion",
         "GET",
         "/api/v1/app/version?platform=linux",
         false,
         {},
         {{"version_code", 57}, {"version_name", "1.5"}, {"url", "https://dl/1.5.zip"}, {"notes", "Новое"}},
         [](Api& api) {
             return ran<AppVersion>(api.appVersion(),
                                    [](const AppVersion& v) { return v.version_code == 57; });
         }},
        {"configs",
         "GET",
         "/api/v1/configs",
         true,
         {},
         {{"x", 1}},
         [](Api& api) {
             return ran<QString>(api.configs(), [](const QString& t) { return t == R"({"x":1})"; });
         }},
    };
}

template <typename T> std::optional<ApiError> apiErrorOf(QCoro::Task<T> task) {
    try {
        runTask(std::move(task));
    } catch (const ApiError& error) {
        return error;
    }
    return std::nullopt;
}

} // namespace

class EndpointsTest : public QObject {
    Q_OBJECT

private slots:
    void everyEndpoint_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("signedIn");
        const auto all = endpoints();
        for (int i = 0; i < all.size(); ++i) {
            QTest::addRow("%s signed in", all[i].name) << i << true;
            QTest::addRow("%s signed out", all[i].name) << i << false;
        }
    }

    void everyEndpoint() {
        QFETCH(int, index);
        QFETCH(bool, signedIn);
        const auto endpoint = endpoints().at(index);
        ApiFixture f;
        if (signedIn)
            f.signIn(QStringLiteral("tok-9"));
        f.service.on(endpoint.method, endpoint.path, ScriptedReply::json(200, endpoint.reply));

        QVERIFY(endpoint.call(f.api));

        const auto requests = f.service.requests();
        QCOMPARE(requests.size(), 1);
        const auto& request = requests[0];
        QCOMPARE(request.method, endpoint.method);
        QCOMPARE(request.path, endpoint.path);
        QCOMPARE(request.header("User-Agent"), QByteArray("VemkoVPN/1.2.3 Linux"));
        QCOMPARE(request.header("X-Device-Os"), QByteArray("Linux"));
        QVERIFY(request.hasHeader("X-Hwid") && request.hasHeader("X-Ver-Os") &&
                request.hasHeader("X-Device-Model"));
        const bool bearer = endpoint.token && signedIn;
        QCOMPARE(request.hasHeader("Authorization"), bearer);
        if (bearer)
            QCOMPARE(request.header("Authorization"), QByteArray("Bearer tok-9"));
        if (endpoint.body.isEmpty()) {
            QVERIFY(request.body.isEmpty());
            QVERIFY(!request.hasHeader("Content-Type"));
            if (request.method == "POST")
                QCOMPARE(request.header("Content-Length"), QByteArray("0"));
        } else {
            QCOMPARE(request.header("Content-Type"), QByteArray("application/json; charset=utf-8"));
            QCOMPARE(request.json().toObject(), endpoint.body);
        }
    }

    void integersTravelAsJsonNumbers() {
        ApiFixture f;
        f.service.on("POST", "/api/v1/subscribe/stripe", ScriptedReply::json(200, QJsonObject{{"url", "u"}}));
        runTask(f.api.subscribeStripe(3, QStringLiteral("month")));
        const auto body = f.service.requests().value(0).body;
        QVERIFY2(body.contains(R"("devices":3)"), body.constData());
    }

    void tgPollReplies() {
        ApiFixture f;
        const QByteArray path = "/api/v1/auth/tg/poll?key=abc";
        f.service.enqueue("GET", path, ScriptedReply::empty(204));
        f.service.enqueue("GET", path, ScriptedReply::json(200, QJsonObject{{"tok", "x"}}));
        f.service.enqueue("GET", path, ScriptedReply::json(404, QJsonObject{{"error", "Не найдено"}}));
        f.service.enqueue("GET", path,
                          ScriptedReply::json(410, QJsonObject{{"error", "Истекло"}, {"code", "gone"}}));
        f.service.enqueue("GET", path, ScriptedReply::json(500, QJsonObject{}));

        const auto pending = runTask(f.api.tgPoll(QStringLiteral("abc")));
        QVERIFY(pending.has_value() && !pending->has_value());

        try {
            runTask(f.api.tgPoll(QStringLiteral("abc")));
            QFAIL("a token reply without a token decoded");
        } catch (const DecodingError& error) {
            QCOMPARE(error.field, QStringLiteral("token"));
        }

        for (int status : {404, 410, 500}) {
            const auto error = apiErrorOf(f.api.tgPoll(QStringLiteral("abc")));
            QVERIFY(error);
            QCOMPARE(error->code, status);
            QCOMPARE(error->message, QStringLiteral("Ссылка для входа устарела"));
            QCOMPARE(error->apiCode, QString());
        }
    }

    void tgPollTransportFailure() {
        ApiFixture f;
        f.service.on("GET", "/api/v1/auth/tg/poll", ScriptedReply::garbage("\x16\x03\x01 not http"));
        QVERIFY_THROWS_EXCEPTION(TransportError, runTask(f.api.tgPoll(QStringLiteral("abc"))));
    }

    void pollKeyIsAppendedAsIs() {
        ApiFixture f;
        f.service.on("GET", "/api/v1/auth/tg/poll", ScriptedReply::empty(204));
        runTask(f.api.tgPoll(QStringLiteral("a-b_c.9&x=1")));
        QCOMPARE(f.service.requests().value(0).path, QByteArray("/api/v1/auth/tg/poll?key=a-b_c.9&x=1"));
    }

    void pollKeyThatBreaksTheUrl_data() {
        QTest::addColumn<QString>("key");
        QTest::newRow("bracket") << QStringLiteral("ab]cd");
        QTest::newRow("percent garbage") << QStringLiteral("%zz%");
        QTest::newRow("control") << QStringLiteral("a\x01z");
        QTest::newRow("space and newline") << QStringLiteral("a b\nc");
        QTest::newRow("unicode") << QStringLiteral("ключ");
    }

    // Whatever the key holds, the call ends with a token, no value or an error: never a crash and
    // never a request with extra lines in it.
    void pollKeyThatBreaksTheUrl() {
        QFETCH(QString, key);
        ApiFixture f;
        f.service.on("GET", "/api/v1/auth/tg/poll", ScriptedReply::empty(204));
        try {
            const auto result = runTask(f.api.tgPoll(key));
            QVERIFY(result.has_value() && !result->has_value());
            QCOMPARE(f.service.requests().size(), 1);
            QVERIFY(!f.service.requests()[0].path.contains('\n'));
        } catch (const TransportError& error) {
            QVERIFY(!error.description.isEmpty());
            QCOMPARE(f.service.requests().size(), 0);
        }
    }

    void invalidUrlFailsAsTransport() {
        ApiFixture f;
        Api api(f.network, f.store, f.keychain, QStringLiteral("http://[::1"));
        QVERIFY_THROWS_EXCEPTION(TransportError, runTask(api.tgPoll(QStringLiteral("abc"))));
        QVERIFY_THROWS_EXCEPTION(TransportError, runTask(api.plans()));
    }

    void configsBodies() {
        ApiFixture f;
        f.service.enqueue("GET", "/api/v1/configs", ScriptedReply::empty(200));
        f.service.enqueue("GET", "/api/v1/configs",
                          ScriptedReply::text(200, "\xff\xfe[1]", "application/json"));
        f.service.enqueue("GET", "/api/v1/configs",
                          ScriptedReply::text(200, "  [{\"remarks\":\"Рига\"}]\n", "application/json"));
        f.service.enqueue("GET", "/api/v1/configs",
                          ScriptedReply::text(200, "not json at all", "text/plain"));
        QCOMPARE(*runTask(f.api.configs()), QString());
        QCOMPARE(*runTask(f.api.configs()), QStringLiteral("[]"));
        QCOMPARE(*runTask(f.api.configs()), QStringLiteral("  [{\"remarks\":\"Рига\"}]\n"));
        QCOMPARE(*runTask(f.api.configs()), QStringLiteral("not json at all"));

        f.service.enqueue(
            "GET", "/api/v1/configs",
            ScriptedReply::json(403, QJsonObject{{"error", "Лимит"}, {"code", "device_limit"}}));
        const auto error = apiErrorOf(f.api.configs());
        QVERIFY(error);
        QCOMPARE(error->apiCode, QStringLiteral("device_limit"));
    }

    void payStatusPaths() {
        ApiFixture f;
        f.service.handle([](const RecordedRequest&) {
            return ScriptedReply::json(200, QJsonObject{{"status", "new"}});
        });
        runTask(f.api.payStatus(0));
        runTask(f.api.payStatus(-15));
        runTask(f.api.payStatus(std::numeric_limits<qint64>::max()));
        const auto requests = f.service.requests();
        QCOMPARE(requests.value(0).path, QByteArray("/api/v1/pay/0"));
        QCOMPARE(requests.value(1).path, QByteArray("/api/v1/pay/-15"));
        QCOMPARE(requests.value(2).path, QByteArray("/api/v1/pay/9223372036854775807"));
    }

    void decodingFailuresNameTheField() {
        ApiFixture f;
        auto me = meJson();
        me.remove("support_url");
        f.service.enqueue("GET", "/api/v1/me", ScriptedReply::json(200, me));
        me = meJson();
        me["devices"] = QJsonArray{QJsonObject{}, QJsonObject{}, QJsonObject{{"hwid", 7}}};
        f.service.enqueue("GET", "/api/v1/me", ScriptedReply::json(200, me));
        f.service.enqueue("GET", "/api/v1/me", ScriptedReply::json(200, QJsonArray{}));
        f.service.enqueue(
            "POST", "/api/v1/pay",
            ScriptedReply::json(200, QJsonObject{{"order_id", 12.5}, {"amount", 1}, {"url", "u"}}));

        const auto fieldOf = [](auto task) -> QString {
            try {
                runTask(std::move(task));
            } catch (const DecodingError& error) {
                return error.field;
            }
            return QStringLiteral("<no error>");
        };
        QCOMPARE(fieldOf(f.api.me()), QStringLiteral("support_url"));
        QCOMPARE(fieldOf(f.api.me()), QStringLiteral("devices[2].hwid"));
        QCOMPARE(fieldOf(f.api.me()), QString());
        QCOMPARE(fieldOf(f.api.pay("m1", "crypto")), QStringLiteral("order_id"));
    }
};

QTEST_GUILESS_MAIN(EndpointsTest)
#include "tst_endpoints.moc"
