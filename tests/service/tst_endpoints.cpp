// Every endpoint against the test service: method, path, device headers, token, body, and every
// field of the record it decodes.

#include "support/ApiFixture.h"
#include "support/Drive.h"

#include <QJsonDocument>
#include <QTest>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

const QString kToken = u"tok-ü"_s; // travels as UTF-8

struct Endpoint {
    const char* name;
    QByteArray method, path;
    bool token;
    QByteArray body; // empty: no body and no Content-Type
    QByteArray reply;
    std::function<bool(Api&)> call; // true when the decoded result holds every value of `reply`
};

template <typename T, typename Check> bool gives(QCoro::Task<T> task, Check check) {
    const auto result = runTask(std::move(task));
    return result && check(*result);
}

const QList<Endpoint>& endpoints() {
    using E = Endpoint;
    static const QList<Endpoint> all{
        E("login", "POST", "/api/v1/auth/login", false, R"({"email":"a@b.c","password":"pw"})",
          R"({"token":"T"})",
          [](Api& a) { return gives(a.login("a@b.c", "pw"), [](auto& t) { return t == "T"; }); }),
        E("register", "POST", "/api/v1/auth/register", false, R"({"email":"a@b.c","password":"pw"})",
          R"({"token":"T"})",
          [](Api& a) { return gives(a.registerAccount("a@b.c", "pw"), [](auto& t) { return t == "T"; }); }),
        E("tgStart", "POST", "/api/v1/auth/tg/start", false, "", R"({"key":"k","url":"u"})",
          [](Api& a) { return gives(a.tgStart(), [](auto& s) { return s.key == "k" && s.url == "u"; }); }),
        E("tgPoll", "GET", "/api/v1/auth/tg/poll?key=a-b_c.9&x=1", false, "", R"({"token":"T"})",
          [](Api& a) { return gives(a.tgPoll("a-b_c.9&x=1"), [](auto& t) { return t == QString("T"); }); }),
        E("me", "GET", "/api/v1/me", true, "",
          R"({"email":"e","telegram":"@t","active":true,"expire_at":"x","devices_limit":3,"devices_used":1,
              "devices":[{"hwid":"h","model":"m","os":"o","version":"v"}],"trial_available":false,
              "promo_available":true,"support_url":"s"})",
          [](Api& a) {
              const auto m = runTask(a.me()).value();
              return m.email == "e" && m.telegram == "@t" && m.active && m.expire_at == "x" &&
                     m.devices_limit == 3 && m.devices_used == 1 && !m.trial_available && m.promo_available &&
                     m.support_url == "s" && m.devices == QList<Device>{{"h", "m", "o", "v"}};
          }),
        E("plans", "GET", "/api/v1/plans", false, "",
          R"({"plans":[{"code":"m1","days":30,"devices":3,"price":199}],"payments":true,"card":true,
              "stripe_tiers":[{"devices":5,"monthly":4.99,"yearly":49}],"stripe_trial_days":7})",
          [](Api& a) {
              const auto p = runTask(a.plans()).value();
              return p.plans == QList<Plan>{{"m1", 30, 3, 199}} && p.payments && p.card &&
                     p.stripe_tiers == QList<StripeTier>{{5, 4.99, 49}} && p.stripe_trial_days == 7;
          }),
        E("referral", "GET", "/api/v1/referral", true, "",
          R"({"code":"c","link":"l","invited":1,"paid":2,"days":3,"days_invite":4,"days_paid":5,"days_friend":6})",
          [](Api& a) {
              const auto r = runTask(a.referral()).value();
              return r.code == "c" && r.link == "l" && r.invited == 1 && r.paid == 2 && r.days == 3 &&
                     r.days_invite == 4 && r.days_paid == 5 && r.days_friend == 6;
          }),
        E("trial", "POST", "/api/v1/trial", true, "", "", [](Api& a) { return runTask(a.trial()); }),
        E("promo", "POST", "/api/v1/promo", true, R"({"code":"SPRING"})", R"({"ok":true,"message":"Да"})",
          [](Api& a) { return gives(a.promo("SPRING"), [](auto& p) { return p.ok && p.message == "Да"; }); }),
        E("deleteDevice", "POST", "/api/v1/devices/delete", true, R"({"hwid":"h1"})", "",
          [](Api& a) { return runTask(a.deleteDevice("h1")); }),
        E("pay", "POST", "/api/v1/pay", true, R"({"plan":"m1","method":"sbp"})",
          R"({"order_id":1234,"amount":199,"url":"u"})",
          [](Api& a) {
              return gives(a.pay("m1", "sbp"), [](auto& p) { return p.order_id == 1234 && p.amount == 199; });
          }),
        E("subscribeStripe", "POST", "/api/v1/subscribe/stripe", true, R"({"devices":5,"interval":"year"})",
          R"({"url":"u"})",
          [](Api& a) { return gives(a.subscribeStripe(5, "year"), [](auto& s) { return s.url == "u"; }); }),
        E("payStatus", "GET", "/api/v1/pay/1234", true, "", R"({"status":"paid"})",
          [](Api& a) { return gives(a.payStatus(1234), [](auto& s) { return s.status == "paid"; }); }),
        E("appVersion", "GET", "/api/v1/app/version?platform=linux", false, "",
          R"({"version_code":57,"version_name":"1.5","url":"u","notes":"n"})",
          [](Api& a) {
              const auto v = runTask(a.appVersion()).value();
              return v.version_code == 57 && v.version_name == "1.5" && v.url == "u" && v.notes == "n";
          }),
        E("configs", "GET", "/api/v1/configs", true, "", " [{\"remarks\":\"Рига\"}]\n",
          [](Api& a) {
              return gives(a.configs(), [](auto& t) { return t == " [{\"remarks\":\"Рига\"}]\n"; });
          }),
    };
    return all;
}

} // namespace

class EndpointsTest : public QObject {
    Q_OBJECT

private slots:
    void everyEndpoint_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("signedIn");
        for (int i = 0; i < endpoints().size(); ++i) {
            QTest::addRow("%s signed in", endpoints()[i].name) << i << true;
            QTest::addRow("%s signed out", endpoints()[i].name) << i << false;
        }
    }

    void everyEndpoint() {
        QFETCH(int, index);
        QFETCH(bool, signedIn);
        const auto& e = endpoints()[index];
        ApiFixture f;
        if (signedIn)
            f.signIn(kToken);
        f.service.on(e.method, e.path, ScriptedReply::text(200, e.reply, "application/json"));
        QVERIFY(e.call(f.api));

        QCOMPARE(f.service.requests().size(), 1);
        const auto r = f.service.requests()[0];
        QCOMPARE(r.method, e.method);
        QCOMPARE(r.path, e.path);
        QCOMPARE(r.header("User-Agent"), "VemkoVPN/1.2.3 Linux"_ba);
        QCOMPARE(r.header("X-Hwid"), f.store.hwid().toUtf8());
        QCOMPARE(r.header("X-Device-Os"), "Linux"_ba);
        QCOMPARE(r.header("X-Ver-Os"), f.facts.versionText.toUtf8());
        QCOMPARE(r.header("X-Device-Model"), "ThinkPad X1 Carbon"_ba);
        // Sent without a token too: the service decides what a signed-out call gets.
        const bool bearer = e.token && signedIn;
        QCOMPARE(r.hasHeader("Authorization"), bearer);
        QCOMPARE(r.header("Authorization"), bearer ? "Bearer " + kToken.toUtf8() : QByteArray());
        QCOMPARE(r.hasHeader("Content-Type"), !e.body.isEmpty());
        if (e.body.isEmpty()) {
            QVERIFY(r.body.isEmpty());
            if (r.method == "POST")
                QCOMPARE(r.header("Content-Length"), "0"_ba);
        } else {
            QCOMPARE(r.header("Content-Type"), "application/json; charset=utf-8"_ba);
            QCOMPARE(r.json().toObject(), QJsonDocument::fromJson(e.body).object()); // numbers stay numbers
        }
    }

    void tgPollJudgesItsOwnReplies() {
        ApiFixture f;
        const QByteArray path = "/api/v1/auth/tg/poll?key=abc";
        f.service.enqueue("GET", path, ScriptedReply::empty(204));
        f.service.enqueue("GET", path, ScriptedReply::json(200, QJsonObject{{"tok", "x"}}));
        for (int status : {404, 410, 500})
            f.service.enqueue("GET", path,
                              ScriptedReply::json(status, QJsonObject{{"error", "Свой"}, {"code", "c"}}));
        f.service.on("GET", path, ScriptedReply::garbage("\x16\x03\x01 not http"));
        const auto pending = runTask(f.api.tgPoll(u"abc"_s));
        QVERIFY(pending && !*pending);
        QVERIFY(errorOf<DecodingError>(f.api.tgPoll(u"abc"_s)));
        for (int status : {404, 410, 500}) {
            const auto error = errorOf<ApiError>(f.api.tgPoll(u"abc"_s));
            QVERIFY(error && error->code == status && error->apiCode.isEmpty());
            QCOMPARE(error->message, u"Ссылка для входа устарела"_s);
        }
        QVERIFY(errorOf<TransportError>(f.api.tgPoll(u"abc"_s)));
    }

    void pollKeyCannotBreakTheRequest_data() {
        QTest::addColumn<QString>("key");
        QTest::newRow("line break") << u"a\r\nX-Injected: 1"_s;
        QTest::newRow("bracket") << u"ab]cd"_s;
        QTest::newRow("unicode") << u"ключ"_s;
    }

    // Whatever the service issued as a key: sent, or refused before anything is sent; never a crash,
    // never a request with lines of its own.
    void pollKeyCannotBreakTheRequest() {
        QFETCH(QString, key);
        ApiFixture f;
        f.service.on("GET", "/api/v1/auth/tg/poll", ScriptedReply::empty(204));
        try {
            QVERIFY(runTask(f.api.tgPoll(key)));
            const auto requests = f.service.requests();
            QVERIFY(requests.size() == 1 && !requests[0].hasHeader("X-Injected") &&
                    !requests[0].path.contains('\n'));
        } catch (const TransportError&) {
            QVERIFY(f.service.requests().isEmpty());
        }
    }

    void configsTextAsSent() {
        ApiFixture f;
        // Empty bytes are valid UTF-8; only bytes that are not give the empty list.
        const QList<QPair<QByteArray, QString>> cases{
            {"", ""}, {"\xff\xfe[1]", "[]"}, {"not json", "not json"}};
        for (const auto& [body, text] : cases)
            f.service.enqueue("GET", "/api/v1/configs", ScriptedReply::text(200, body, "application/json"));
        for (const auto& [body, text] : cases)
            QCOMPARE(runTask(f.api.configs()), std::optional<QString>(text));
    }
};

QTEST_GUILESS_MAIN(EndpointsTest)
#include "tst_endpoints.moc"
