// The request path through the real network stack: device headers, the bearer token, how replies
// are judged, and failures of the connection itself.

#include "service/Transport.h"
#include "support/ApiFixture.h"
#include "support/Drive.h"

#include <QJsonArray>
#include <QTcpServer>
#include <QTest>

namespace {

QJsonObject plansJson() {
    QJsonObject plan{{"code", "m1"}, {"days", 30}, {"devices", 3}, {"price", 199}};
    QJsonObject tier{{"devices", 3}, {"monthly", 4.99}, {"yearly", 49}};
    return QJsonObject{{"plans", QJsonArray{plan}},
                       {"payments", true},
                       {"card", true},
                       {"stripe_tiers", QJsonArray{tier}},
                       {"stripe_trial_days", 3}};
}

// Runs the call and returns the ApiError it throws (a test failure when it throws nothing else).
template <typename T> std::optional<ApiError> apiErrorOf(QCoro::Task<T> task) {
    try {
        runTask(std::move(task));
    } catch (const ApiError& error) {
        return error;
    } catch (const std::exception& other) {
        qWarning() << "unexpected error:" << other.what();
    }
    return std::nullopt;
}

template <typename T> std::optional<TransportError> transportErrorOf(QCoro::Task<T> task) {
    try {
        runTask(std::move(task));
    } catch (const TransportError& error) {
        return error;
    } catch (const std::exception& other) {
        qWarning() << "unexpected error:" << other.what();
    }
    return std::nullopt;
}

} // namespace

class TransportTest : public QObject {
    Q_OBJECT

private slots:
    void deviceHeadersOnEveryRequest() {
        ApiFixture f;
        f.facts.modelText = QStringLiteral("  Latitude 7440 \n");
        f.service.on("GET", "/api/v1/plans", ScriptedReply::json(200, plansJson()));
        runTask(f.api.plans());

        const auto request = f.service.requests().value(0);
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.path, QByteArray("/api/v1/plans"));
        QCOMPARE(request.header("User-Agent"), QByteArray("VemkoVPN/1.2.3 Linux"));
        QCOMPARE(request.header("X-Hwid"), f.store.hwid().toUtf8());
        QCOMPARE(request.header("X-Hwid").size(), 32);
        QCOMPARE(request.header("X-Device-Os"), QByteArray("Linux"));
        QCOMPARE(request.header("X-Ver-Os"), f.facts.versionText.toUtf8());
        QCOMPARE(request.header("X-Device-Model"), QByteArray("Latitude 7440"));
        QVERIFY(!request.hasHeader("Content-Type"));
        QVERIFY(!request.hasHeader("Authorization"));
    }

    void headerValuesCannotAddHeaders() {
        ApiFixture f;
        f.facts.modelText = QStringLiteral("Evil\r\nX-Injected: 1");
        f.signIn(QStringLiteral("tok\r\nX-Other: 2"));
        f.service.on("GET", "/api/v1/me", ScriptedReply::empty(500));
        apiErrorOf(f.api.me());

        const auto request = f.service.requests().value(0);
        QVERIFY(!request.hasHeader("X-Injected"));
        QVERIFY(!request.hasHeader("X-Other"));
        QCOMPARE(request.header("X-Device-Model"), QByteArray("Evil  X-Injected: 1"));
    }

    void bearerOnlyWhereTheEndpointWantsIt() {
        ApiFixture f;
        f.signIn(QStringLiteral("Токен-ü"));
        apiErrorOf(f.api.trial());
        apiErrorOf(f.api.plans());
        apiErrorOf(f.api.appVersion());
        apiErrorOf(f.api.tgStart());

        const auto requests = f.service.requests();
        QCOMPARE(requests.size(), 4);
        QCOMPARE(requests[0].header("Authorization"),
                 QByteArray("Bearer ") + QStringLiteral("Токен-ü").toUtf8());
        for (qsizetype i = 1; i < requests.size(); ++i)
            QVERIFY2(!requests[i].hasHeader("Authorization"), requests[i].path.constData());
    }

    void markedEndpointWithoutTokenStillSends() {
        ApiFixture f;
        f.service.on("GET", "/api/v1/me", ScriptedReply::json(401, QJsonObject{{"error", "Войдите снова"}}));
        const auto error = apiErrorOf(f.api.me());
        QVERIFY(error);
        QCOMPARE(error->code, 401);
        QCOMPARE(error->message, QStringLiteral("Войдите снова"));
        QCOMPARE(error->apiCode, QString());
        QCOMPARE(f.service.requests().size(), 1);
        QVERIFY(!f.service.requests()[0].hasHeader("Authorization"));
    }

    void judgingTable_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("apiCode");

        const QString fallback400 = QStringLiteral("Ошибка сети (400)");
        QTest::newRow("error and code strings")
            << 403 << QByteArray(R"({"error":"Лимит устройств","code":"device_limit"})")
            << QStringLiteral("Лимит устройств") << QStringLiteral("device_limit");
        QTest::newRow("code without error") << 400 << QByteArray(R"({"code":"device_limit"})") << fallback400
                                            << QStringLiteral("device_limit");
        QTest::newRow("numeric code")
            << 400 << QByteArray(R"({"error":"Нет","code":7})") << QStringLiteral("Нет") << QString();
        QTest::newRow("numeric error") << 400 << QByteArray(R"({"error":5})") << fallback400 << QString();
        QTest::newRow("null error") << 400 << QByteArray(R"({"error":null})") << fallback400 << QString();
        QTest::newRow("html page") << 502 << QByteArray("<html><body>Bad gateway</body></html>")
                                   << QStringLiteral("Ошибка сети (502)") << QString();
        QTest::newRow("json array") << 400 << QByteArray(R"([{"error":"x"}])") << fallback400 << QString();
        QTest::newRow("empty body") << 500 << QByteArray() << QStringLiteral("Ошибка сети (500)")
                                    << QString();
        QTest::newRow("3xx with an error text")
            << 300 << QByteArray(R"({"error":"Переехали"})") << QStringLiteral("Переехали") << QString();
        QTest::newRow("redirect without location")
            << 302 << QByteArray() << QStringLiteral("Ошибка сети (302)") << QString();
        QTest::newRow("proxy auth status from the service")
            << 407 << QByteArray() << QStringLiteral("Ошибка сети (407)") << QString();
    }

    void judgingTable() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        QFETCH(QString, apiCode);
        ApiFixture f;
        f.service.on("GET", "/api/v1/plans", ScriptedReply::text(status, body, "application/json"));
        const auto error = apiErrorOf(f.api.plans());
        QVERIFY(error);
        QCOMPARE(error->code, status);
        QCOMPARE(error->message, message);
        QCOMPARE(error->apiCode, apiCode);
        QCOMPARE(QString::fromUtf8(error->what()), message);
    }

    void anySuccessStatusReachesTheDecoder() {
        ApiFixture f;
        f.service.enqueue("GET", "/api/v1/plans", ScriptedReply::json(201, plansJson()));
        QCOMPARE(runTask(f.api.plans())->stripe_trial_days, 3);

        // 204 carries no body: the decoder gets nothing and says so.
        f.service.enqueue("GET", "/api/v1/plans", ScriptedReply::empty(204));
        QVERIFY_THROWS_EXCEPTION(DecodingError, runTask(f.api.plans()));

        // The calls that ignore the body succeed on any 2xx, whatever it holds.
        f.service.enqueue("POST", "/api/v1/trial", ScriptedReply::empty(204));
        f.service.enqueue("POST", "/api/v1/trial", ScriptedReply::text(200, "OK!", "text/plain"));
        f.service.enqueue("POST", "/api/v1/devices/delete", ScriptedReply::text(202, "<html/>", "text/html"));
        QVERIFY(runTask(f.api.trial()));
        QVERIFY(runTask(f.api.trial()));
        QVERIFY(runTask(f.api.deleteDevice(QStringLiteral("abc"))));
    }

    void connectionFailuresPassThrough() {
        ApiFixture f;
        // Qt resends once when a connection drops before any reply: every attempt is reset.
        f.service.on("GET", "/api/v1/plans", ScriptedReply::reset());
        auto reset = transportErrorOf(f.api.plans());
        QVERIFY(reset);
        QVERIFY(reset->code != QNetworkReply::NoError);
        QVERIFY(!reset->description.isEmpty());

        f.service.enqueue("GET", "/api/v1/plans", ScriptedReply::garbage("SSH-2.0-OpenSSH_9.2\r\n"));
        QVERIFY(transportErrorOf(f.api.plans()));

        // A reply cut off in its body is not judged by its status line.
        f.service.enqueue(
            "GET", "/api/v1/plans",
            ScriptedReply::garbage("HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n{\"plans\":"));
        QVERIFY(transportErrorOf(f.api.plans()));

        // The service is fine again afterwards.
        f.service.on("GET", "/api/v1/plans", ScriptedReply::json(200, plansJson()));
        QCOMPARE(runTask(f.api.plans())->plans.size(), 1);
    }

    void refusedPort() {
        quint16 port = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            port = probe.serverPort();
        }
        ApiFixture f;
        Api api(f.network, f.store, f.keychain, QStringLiteral("http://127.0.0.1:%1").arg(port));
        const auto error = transportErrorOf(api.plans());
        QVERIFY(error);
        QCOMPARE(error->code, QNetworkReply::ConnectionRefusedError);
    }

    void keepAliveConnectionsCarryManyRequests() {
        ApiFixture f;
        f.service.on("GET", "/api/v1/plans", ScriptedReply::json(200, plansJson()));
        f.service.on("POST", "/api/v1/promo",
                     ScriptedReply::json(200, QJsonObject{{"ok", true}, {"message", "ok"}}));
        for (int i = 0; i < 20; ++i) {
            QVERIFY(runTask(f.api.plans()));
            QVERIFY(runTask(f.api.promo(QStringLiteral("CODE%1").arg(i))));
        }
        QCOMPARE(f.service.requests().size(), 40);
        QCOMPARE(f.service.requests().last().json().toObject().value("code").toString(),
                 QStringLiteral("CODE19"));
    }

    void concurrentCallsEachGetTheirReply() {
        ApiFixture f;
        f.service.handle([](const RecordedRequest& request) {
            auto reply = ScriptedReply::json(200, QJsonObject{{"status", QString::fromUtf8(request.path)}});
            // The first answer comes last.
            reply.delay = std::chrono::milliseconds(request.path.endsWith("/1") ? 150 : 0);
            return reply;
        });
        std::optional<PayStatus> first;
        std::optional<PayStatus> second;
        auto both = [](Api& api, std::optional<PayStatus>& a, std::optional<PayStatus>& b) -> QCoro::Task<> {
            auto one = api.payStatus(1);
            auto two = api.payStatus(2);
            b = co_await std::move(two);
            a = co_await std::move(one);
        };
        QVERIFY(runTask(both(f.api, first, second)));
        QCOMPARE(first->status, QStringLiteral("/api/v1/pay/1"));
        QCOMPARE(second->status, QStringLiteral("/api/v1/pay/2"));
    }

    void requestsGiveUpAfterThirtySeconds() {
        ApiFixture f;
        const Transport transport{&f.network, &f.store, &f.keychain, f.service.origin()};
        QCOMPARE(
            transport.build(Call{"GET", QStringLiteral("/api/v1/me"), true, std::nullopt}).transferTimeout(),
            30'000);
    }

    void defaultOriginFollowsTheEnvironment() {
        const bool wasSet = qEnvironmentVariableIsSet("VEMKO_API_ORIGIN");
        const auto saved = qgetenv("VEMKO_API_ORIGIN");
        qunsetenv("VEMKO_API_ORIGIN");
        QCOMPARE(Api::defaultOrigin(), QStringLiteral("https://vemko.app"));
        qputenv("VEMKO_API_ORIGIN", "");
        QCOMPARE(Api::defaultOrigin(), QStringLiteral("https://vemko.app"));
        qputenv("VEMKO_API_ORIGIN", "http://staging.example:8080/");
        QCOMPARE(Api::defaultOrigin(), QStringLiteral("http://staging.example:8080"));
        if (wasSet)
            qputenv("VEMKO_API_ORIGIN", saved);
        else
            qunsetenv("VEMKO_API_ORIGIN");
    }
};

QTEST_GUILESS_MAIN(TransportTest)
#include "tst_transport.moc"
