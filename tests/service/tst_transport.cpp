// The request path through the real network stack: header safety, how replies are judged, and
// failures of the connection itself.

#include "service/Transport.h"
#include "support/ApiFixture.h"
#include "support/Drive.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

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

class TransportTest : public QObject {
    Q_OBJECT

private slots:
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

QTEST_GUILESS_MAIN(TransportTest)
#include "tst_transport.moc"
