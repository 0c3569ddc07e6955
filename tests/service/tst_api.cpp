// The service's API against the test service, through the real network stack: every endpoint
// (method, path, device headers, token, body, and every field of the record it decodes), header
// safety, how replies are judged, their bounds, and failures of the connection itself.

#include "service/Transport.h"
#include "support/ApiFixture.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
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

const QByteArray kPlans =
    R"({"plans":[],"payments":true,"card":true,"stripe_tiers":[],"stripe_trial_days":3})";

// Answers every request with a 200 that promises a gigabyte and sends `chunk` bytes every
// `interval` ms for as long as the client reads.
class EndlessServer : public QObject {
public:
    EndlessServer(int chunk, int interval) : m_chunk(chunk) {
        m_server.listen(QHostAddress::LocalHost, 0);
        m_timer.setInterval(interval);
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = m_server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                socket->readAll();
                socket->write(
                    "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 1073741824\r\n\r\n");
                m_sockets << socket;
                m_timer.start();
            });
        });
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            for (QTcpSocket* socket : std::as_const(m_sockets))
                if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < 1 << 20) {
                    socket->write(QByteArray(m_chunk, ' '));
                    m_sent += m_chunk;
                }
        });
    }
    QString origin() const { return u"http://127.0.0.1:%1"_s.arg(m_server.serverPort()); }
    qint64 sent() const { return m_sent; }

private:
    QTcpServer m_server;
    QTimer m_timer;
    QList<QTcpSocket*> m_sockets;
    int m_chunk;
    qint64 m_sent = 0;
};

// Runs the exchange on the test's own event loop (the endless server keeps it busy, so the shared
// drive-until-quiet helpers would never see it settle).
QCoro::Task<> failureOf(QCoro::Task<HttpReply> task, std::optional<TransportError>& error, bool& done) {
    try {
        co_await std::move(task);
    } catch (const TransportError& failure) {
        error = failure;
    }
    done = true;
}

} // namespace

class ApiTest : public QObject {
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

    void headerValuesCannotAddHeaders() {
        ApiFixture f;
        f.facts.modelText = u"Evil\r\nX-Injected: 1"_s;
        f.signIn(u"tok\r\nX-Other: 2"_s);
        errorOf<ApiError>(f.api.me());
        const auto request = f.service.requests().value(0);
        QVERIFY(!request.hasHeader("X-Injected") && !request.hasHeader("X-Other"));
        QCOMPARE(request.header("X-Device-Model"), "Evil  X-Injected: 1"_ba);
    }

    void judging_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message"); // empty: "Ошибка сети (<status>)"
        QTest::addColumn<QString>("apiCode");
        const auto row = [](const char* tag, int status, QByteArray body, QString message, QString apiCode) {
            QTest::newRow(tag) << status << body << message << apiCode;
        };
        row("error and code", 403, R"({"error":"Лимит","code":"device_limit"})", u"Лимит"_s,
            u"device_limit"_s);
        row("401 with only an error", 401, R"({"error":"Войдите"})", u"Войдите"_s, {});
        row("code without error", 400, R"({"code":"device_limit"})", {}, u"device_limit"_s);
        row("numeric code", 400, R"({"error":"Нет","code":7})", u"Нет"_s, {});
        row("numeric error", 400, R"({"error":5})", {}, {});
        row("json array", 400, R"([{"error":"x"}])", {}, {});
        row("html page", 502, "<html>Bad gateway</html>", {}, {});
        row("3xx not followed", 302, {}, {}, {});
        row("407 from the service", 407, {}, {}, {});
    }

    void judging() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        QFETCH(QString, apiCode);
        if (message.isEmpty())
            message = u"Ошибка сети (%1)"_s.arg(status);
        ApiFixture f;
        f.service.on("GET", "/api/v1/plans", ScriptedReply::text(status, body, "application/json"));
        const auto error = errorOf<ApiError>(f.api.plans());
        QVERIFY(error);
        QCOMPARE(error->code, status);
        QCOMPARE(error->message, message);
        QCOMPARE(error->apiCode, apiCode);
        QCOMPARE(QString::fromUtf8(error->what()), message);
    }

    void anySuccessStatusReachesTheDecoder() {
        ApiFixture f;
        f.service.enqueue("GET", "/api/v1/plans", ScriptedReply::text(201, kPlans, "application/json"));
        f.service.enqueue("GET", "/api/v1/plans", ScriptedReply::empty(204));
        f.service.enqueue("GET", "/api/v1/plans", ScriptedReply::text(200, "[]", "application/json"));
        QCOMPARE(runTask(f.api.plans())->stripe_trial_days, 3);
        QVERIFY_THROWS_EXCEPTION(DecodingError, runTask(f.api.plans()));
        QVERIFY_THROWS_EXCEPTION(DecodingError, runTask(f.api.plans()));

        // The calls that ignore the body succeed on any 2xx, whatever it holds.
        f.service.enqueue("POST", "/api/v1/trial", ScriptedReply::empty(204));
        f.service.enqueue("POST", "/api/v1/trial", ScriptedReply::text(200, "OK!"));
        f.service.enqueue("POST", "/api/v1/devices/delete", ScriptedReply::text(202, "<html/>", "text/html"));
        QVERIFY(runTask(f.api.trial()) && runTask(f.api.trial()) && runTask(f.api.deleteDevice(u"abc"_s)));
    }

    void connectionFailuresPassThrough() {
        ApiFixture f;
        // Qt resends once when a connection drops before any reply: every attempt is reset.
        f.service.on("GET", "/api/v1/plans", ScriptedReply::reset());
        const auto reset = errorOf<TransportError>(f.api.plans());
        QVERIFY(reset && reset->code != QNetworkReply::NoError && !reset->description.isEmpty());
        f.service.enqueue("GET", "/api/v1/plans", ScriptedReply::garbage("SSH-2.0-OpenSSH_9.2\r\n"));
        QVERIFY(errorOf<TransportError>(f.api.plans()));
        // A reply cut off in its body is not judged by its status line.
        f.service.enqueue(
            "GET", "/api/v1/plans",
            ScriptedReply::garbage("HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n{\"plans\":"));
        QVERIFY(errorOf<TransportError>(f.api.plans()));
        f.service.on("GET", "/api/v1/plans", ScriptedReply::text(200, kPlans, "application/json"));
        QVERIFY(runTask(f.api.plans()));

        quint16 closedPort = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            closedPort = probe.serverPort();
        }
        Api refused(f.network, f.store, f.keychain, u"http://127.0.0.1:%1"_s.arg(closedPort));
        QCOMPARE(errorOf<TransportError>(refused.plans())->code, QNetworkReply::ConnectionRefusedError);
        Api invalid(f.network, f.store, f.keychain, u"http://[::1"_s);
        QVERIFY(errorOf<TransportError>(invalid.plans()));
    }

    // The token and the device headers stay with the service: a redirect within its origin is
    // followed, one to another origin fails before anything is sent there.
    void redirectsStayWithinTheOrigin() {
        ApiFixture f;
        TestService elsewhere;
        f.signIn(u"secret-token"_s);
        const Transport transport{&f.network, &f.store, &f.keychain, f.service.origin()};
        ScriptedReply moved = ScriptedReply::empty(302);
        moved.headers.append({"Location", (f.service.origin() + u"/moved"_s).toUtf8()});
        f.service.on("GET", "/here", moved);
        f.service.on("GET", "/moved", ScriptedReply::text(200, "ok"));
        ScriptedReply away = ScriptedReply::empty(302);
        away.headers.append({"Location", (elsewhere.origin() + u"/steal"_s).toUtf8()});
        f.service.on("GET", "/away", away);
        elsewhere.on("GET", "/steal", ScriptedReply::text(200, "ok"));

        QCOMPARE(runTask(exchange(transport, Call{"GET", u"/here"_s, true, {}}))->body, "ok"_ba);
        QCOMPARE(f.service.requests("GET", "/moved").value(0).header("Authorization"),
                 "Bearer secret-token"_ba);
        QVERIFY(errorOf<TransportError>(exchange(transport, Call{"GET", u"/away"_s, true, {}})));
        QVERIFY(elsewhere.requests().isEmpty());
    }

    // Past its size limit a reply fails while it arrives; past the deadline, however steadily
    // bytes trickle in.
    void repliesAreBounded_data() {
        QTest::addColumn<int>("chunk");
        QTest::addColumn<int>("interval");
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<int>("code");
        QTest::newRow("endless body, 1 MB limit")
            << 64 * 1024 << 0 << qint64(1 << 20) << int(QNetworkReply::ProtocolFailure);
        QTest::newRow("a byte every 50 ms") << 1 << 50 << qint64(1 << 20) << int(QNetworkReply::TimeoutError);
    }
    void repliesAreBounded() {
        QFETCH(int, chunk);
        QFETCH(int, interval);
        QFETCH(qint64, limit);
        QFETCH(int, code);
        ApiFixture f;
        EndlessServer server(chunk, interval);
        Transport transport{&f.network, &f.store, &f.keychain, server.origin()};
        transport.deadline = std::chrono::milliseconds(1500);
        Call call{"GET", u"/api/v1/configs"_s, false, {}};
        call.replyLimit = limit;
        QElapsedTimer took;
        took.start();
        std::optional<TransportError> error;
        bool done = false;
        const auto running = failureOf(exchange(transport, call), error, done);
        QTRY_VERIFY_WITH_TIMEOUT(done, 20000);
        QVERIFY(error);
        QCOMPARE(int(error->code), code);
        QVERIFY2(took.elapsed() < 10'000, qPrintable(QString::number(took.elapsed())));
        if (code == QNetworkReply::ProtocolFailure)
            QVERIFY(server.sent() < limit + (qint64(64) << 20)); // stopped soon after the limit
    }

    void limitsPerCall() {
        ApiFixture f;
        // Beside the reply limit, the defaults bound a dead server: 30 s without a byte, 2 min in all.
        QCOMPARE(Transport{}.deadline, std::chrono::milliseconds(120'000));
        const Transport transport{&f.network, &f.store, &f.keychain, f.service.origin()};
        QCOMPARE(transport.build(Call{"GET", u"/api/v1/me"_s, true, {}}).transferTimeout(), 30'000);
        // The configs document may be larger than any other record.
        const QByteArray large = "[" + QByteArray(3 << 20, ' ') + "]";
        f.signIn();
        f.service.on("GET", "/api/v1/configs", ScriptedReply::text(200, large, "application/json"));
        QCOMPARE(runTask(f.api.configs())->size(), large.size());
        f.service.on("GET", "/api/v1/plans", ScriptedReply::text(200, large, "application/json"));
        QVERIFY(errorOf<TransportError>(f.api.plans()));
    }

    void defaultOriginFollowsTheEnvironment() {
        const auto saved = qgetenv("VEMKO_API_ORIGIN");
        qputenv("VEMKO_API_ORIGIN", "http://staging.example:8080/");
        QCOMPARE(Api::defaultOrigin(), u"http://staging.example:8080"_s);
        qputenv("VEMKO_API_ORIGIN", saved);
    }
};

QTEST_GUILESS_MAIN(ApiTest)
#include "tst_api.moc"
