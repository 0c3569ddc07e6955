// The in-process test service other tests script: routing, queues, the handler, delays.

#include "support/Drive.h"
#include "support/TestService.h"

#include <QCoroNetworkReply>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTest>

namespace {

struct Answer {
    int status = 0;
    QByteArray body;
};

QCoro::Task<Answer> fetch(QNetworkAccessManager* network, QString url, QByteArray verb, QByteArray body) {
    QNetworkRequest request{QUrl(url)};
    std::unique_ptr<QNetworkReply> reply(body.isEmpty() ? network->sendCustomRequest(request, verb)
                                                        : network->sendCustomRequest(request, verb, body));
    co_await reply.get();
    co_return Answer{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
}

} // namespace

class TestServiceTest : public QObject {
    Q_OBJECT

    QNetworkAccessManager network;
    Answer get(TestService& service, const QString& path, const QByteArray& verb = "GET",
               const QByteArray& body = {}) {
        return runTask(fetch(&network, service.origin() + path, verb, body)).value_or(Answer{});
    }

private slots:
    void initTestCase() { network.setProxy(QNetworkProxy::NoProxy); }

    void queuedThenStandingThenNotFound() {
        TestService service;
        service.enqueue("GET", "/a", ScriptedReply::text(200, "one"));
        service.enqueue("GET", "/a", ScriptedReply::text(201, "two"));
        service.on("GET", "/a", ScriptedReply::text(202, "standing"));
        QCOMPARE(get(service, "/a").body, QByteArray("one"));
        QCOMPARE(get(service, "/a").status, 201);
        QCOMPARE(get(service, "/a").body, QByteArray("standing"));
        QCOMPARE(get(service, "/a").body, QByteArray("standing"));
        QCOMPARE(get(service, "/b").status, 404);
        QCOMPARE(get(service, "/a", "POST").status, 404);
    }

    void queryRoutes() {
        TestService service;
        service.on("GET", "/v", ScriptedReply::text(200, "bare"));
        service.on("GET", "/v?platform=linux", ScriptedReply::text(200, "exact"));
        QCOMPARE(get(service, "/v?platform=linux").body, QByteArray("exact"));
        QCOMPARE(get(service, "/v?platform=other").body, QByteArray("bare"));
        QCOMPARE(service.requests("GET", "/v").size(), 2);
        QCOMPARE(service.requests("GET", "/v?platform=linux").size(), 1);
        QCOMPARE(service.requests().value(1).path, QByteArray("/v?platform=other"));
    }

    void handlerFirstAndFallThrough() {
        TestService service;
        service.on("POST", "/p", ScriptedReply::text(200, "route"));
        service.handle([](const RecordedRequest& request) {
            return request.json().toObject().value("pick").toBool()
                       ? ScriptedReply::json(200, QJsonObject{{"h", 1}})
                       : ScriptedReply::empty(404);
        });
        QCOMPARE(get(service, "/p", "POST", R"({"pick":true})").body, QByteArray(R"({"h":1})"));
        QCOMPARE(get(service, "/p", "POST", R"({"pick":false})").body, QByteArray("route"));
        QCOMPARE(service.requests().value(0).body, QByteArray(R"({"pick":true})"));
        service.clearRequests();
        QVERIFY(service.requests().isEmpty());
    }

    void delayedReplyHoldsOnlyItsOwnRequest() {
        TestService service;
        auto slow = ScriptedReply::text(200, "slow");
        slow.delay = std::chrono::milliseconds(200);
        service.on("GET", "/slow", slow);
        service.on("GET", "/fast", ScriptedReply::text(200, "fast"));
        QList<QByteArray> order;
        auto both = [](QNetworkAccessManager* network, QString origin,
                       QList<QByteArray>* seen) -> QCoro::Task<> {
            auto first = fetch(network, origin + "/slow", "GET", {});
            auto second = fetch(network, origin + "/fast", "GET", {});
            seen->append((co_await std::move(second)).body);
            seen->append((co_await std::move(first)).body);
        };
        QVERIFY(runTask(both(&network, service.origin(), &order)));
        QCOMPARE(order, (QList<QByteArray>{"fast", "slow"}));
    }

    void scalarJsonBodies() {
        RecordedRequest request;
        request.body = "\"text\"";
        QCOMPARE(request.json().toString(), QStringLiteral("text"));
        request.body = "not json";
        QVERIFY(request.json().isUndefined());
        QCOMPARE(ScriptedReply::json(200, 5).body, QByteArray("5"));
    }
};

QTEST_GUILESS_MAIN(TestServiceTest)
#include "tst_test_service.moc"
