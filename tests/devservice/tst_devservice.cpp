// The reference service as the app sees it, beyond what the end-to-end test drives through the
// app: replies decode with the app's own record decoders, one-time offers hold once, every refusal
// carries a Russian "error", and state survives a restart.
#include "service/Records.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Reply {
    int status = 0;
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

} // namespace

class TestDevService : public QObject {
    Q_OBJECT

    QTemporaryDir m_data;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QNetworkAccessManager m_network;
    QByteArray m_token;

    bool start(quint16 port) {
        m_process = std::make_unique<QProcess>();
        m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process->start(qEnvironmentVariable("VEMKO_BUILD_DIR") + u"/bin/vemko-devservice"_qs,
                         {u"--port"_qs, QString::number(port), u"--data"_qs, m_data.path()});
        while (!m_process->canReadLine() && m_process->waitForReadyRead(30000)) {
        }
        m_port = quint16(m_process->readLine().trimmed().toUInt());
        return m_port != 0;
    }
    void stop() {
        m_process->terminate();
        QVERIFY(m_process->waitForFinished(30000));
        QCOMPARE(m_process->exitCode(), 0);
    }

    Reply call(const QByteArray& method, const QString& path, const QByteArray& body = {},
               const QByteArray& token = {}) {
        QNetworkRequest request(QUrl(u"http://127.0.0.1:%1%2"_qs.arg(m_port).arg(path)));
        request.setRawHeader("X-Hwid", "device-a");
        request.setRawHeader("X-Device-Model", "ThinkPad");
        request.setRawHeader("X-Device-Os", "Linux");
        if (!token.isEmpty())
            request.setRawHeader("Authorization", "Bearer " + token);
        if (!body.isEmpty())
            request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json; charset=utf-8");
        QNetworkReply* reply = m_network.sendCustomRequest(request, method, body);
        QSignalSpy finished(reply, &QNetworkReply::finished);
        if (!reply->isFinished())
            finished.wait(20000);
        reply->deleteLater();
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
    }
    QByteArray signUp(const QString& email) {
        const Reply reply =
            call("POST", u"/api/v1/auth/register"_qs,
                 QJsonDocument(QJsonObject{{"email", email}, {"password", "password-1"}}).toJson());
        return TokenResp::decode(reply.json()).token.toUtf8();
    }

private slots:
    void initTestCase() {
        QVERIFY(start(0));
        m_token = signUp(u"first@vemko.test"_qs);
    }
    void cleanupTestCase() { stop(); }

    void everyReplyDecodesAsTheAppExpects() {
        Me me = Me::decode(call("GET", u"/api/v1/me"_qs, {}, m_token).json());
        QCOMPARE(me.email, u"first@vemko.test"_qs);
        QVERIFY(!me.active && me.trial_available && !me.telegram && !me.expire_at);
        QCOMPARE(me.devices_used, 1); // bound by its first authorised request
        QCOMPARE(me.devices.first().hwid, u"device-a"_qs);
        QCOMPARE(me.devices.first().model, u"ThinkPad"_qs);

        Referral::decode(call("GET", u"/api/v1/referral"_qs, {}, m_token).json());
        AppVersion::decode(call("GET", u"/api/v1/app/version?platform=linux"_qs).json());
        StripeUrl::decode(
            call("POST", u"/api/v1/subscribe/stripe"_qs, R"({"devices":2,"interval":"year"})", m_token)
                .json());

        const PayResp order = PayResp::decode(
            call("POST", u"/api/v1/pay"_qs, R"({"plan":"d1-30","method":"crypto"})", m_token).json());
        QCOMPARE(call("POST", QUrl(order.url).path() + u"/pay"_qs).status, 200);
        me = Me::decode(call("GET", u"/api/v1/me"_qs, {}, m_token).json());
        QVERIFY(me.active);
        const QJsonArray configs =
            QJsonDocument::fromJson(call("GET", u"/api/v1/configs"_qs, {}, m_token).body).array();
        QVERIFY(configs.isEmpty()); // no demo-servers file: an empty list, still a document
    }

    void promoAndTrialHoldOnce() {
        const QByteArray token = signUp(u"second@vemko.test"_qs);
        const auto promo = [&](const char* code) {
            return PromoResp::decode(
                call("POST", u"/api/v1/promo"_qs, QByteArray(R"({"code":")") + code + "\"}", token).json());
        };
        QVERIFY(promo("VEMKO7").ok);
        QVERIFY(!promo("vemko7").ok); // once per account, whatever the case
        const PromoResp unknown = promo("NOPE");
        QVERIFY(!unknown.ok && !unknown.message.isEmpty());
        QCOMPARE(call("POST", u"/api/v1/trial"_qs, {}, token).status, 200);
        QCOMPARE(call("POST", u"/api/v1/trial"_qs, {}, token).status, 409);
    }

    void telegramKeyGivesItsTokenOnce() {
        const TgStart start = TgStart::decode(call("POST", u"/api/v1/auth/tg/start"_qs).json());
        const QString poll = u"/api/v1/auth/tg/poll?key="_qs + start.key;
        QCOMPARE(call("GET", poll).status, 204);
        QCOMPARE(call("GET", QUrl(start.url).path()).status, 200);
        QCOMPARE(call("POST", QUrl(start.url).path() + u"/confirm"_qs, "telegram=%40someone").status, 200);
        const QByteArray token = TokenResp::decode(call("GET", poll).json()).token.toUtf8();
        QCOMPARE(Me::decode(call("GET", u"/api/v1/me"_qs, {}, token).json()).telegram, u"@someone"_qs);
        QCOMPARE(call("GET", poll).status, 404);
        QCOMPARE(call("GET", u"/api/v1/auth/tg/poll?key=unknown"_qs).status, 404);
    }

    void refusalsCarryARussianError_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<int>("status");
        const char* reg = "/api/v1/auth/register";
        const auto row = [](const char* tag, const char* method, const char* path, QByteArray body,
                            bool signedIn, int status) {
            QTest::newRow(tag) << QByteArray(method) << QString::fromLatin1(path) << body << signedIn
                               << status;
        };
        row("e-mail without @", "POST", reg, R"({"email":"a.b","password":"12345678"})", false, 400);
        row("short password", "POST", reg, R"({"email":"x@y.z","password":"1234567"})", false, 400);
        row("e-mail taken", "POST", reg, R"({"email":"FIRST@vemko.test","password":"12345678"})", false, 409);
        row("e-mail a number", "POST", reg, R"({"email":5,"password":"12345678"})", false, 400);
        row("malformed JSON", "POST", reg, R"({"email":)", false, 400);
        row("JSON array", "POST", reg, "[]", false, 400);
        row("not UTF-8", "POST", reg, QByteArray("{\"email\":\"\xff\xfe@x\",\"password\":\"12345678\"}"),
            false, 400);
        row("huge body", "POST", reg, QByteArray(70 * 1024, ' '), false, 413);
        row("wrong password", "POST", "/api/v1/auth/login",
            R"({"email":"first@vemko.test","password":"password-2"})", false, 401);
        row("unknown path", "GET", "/api/v1/nothing", {}, false, 404);
        row("wrong method", "GET", "/api/v1/pay", {}, true, 405);
        row("no token", "GET", "/api/v1/me", {}, false, 401);
        row("unknown plan", "POST", "/api/v1/pay", R"({"plan":"d0-1","method":"sbp"})", true, 400);
        row("unknown method", "POST", "/api/v1/pay", R"({"plan":"d1-30","method":"cash"})", true, 400);
        row("fractional devices", "POST", "/api/v1/subscribe/stripe", R"({"devices":2.5,"interval":"month"})",
            true, 400);
        row("promo code a number", "POST", "/api/v1/promo", R"({"code":7})", true, 400);
        row("someone else's order", "GET", "/api/v1/pay/999999", {}, true, 404);
    }
    void refusalsCarryARussianError() {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(bool, signedIn);
        QFETCH(int, status);
        const Reply reply = call(method, path, body, signedIn ? m_token : QByteArray());
        QCOMPARE(reply.status, status);
        QVERIFY2(reply.json()["error"].toString().contains(QRegularExpression(u"[а-яА-Я]"_qs)),
                 reply.body.constData());
    }

    void stateSurvivesARestartAndPasswordsStayHashed() {
        stop();
        QByteArray stored;
        for (const QFileInfo& file : QDir(m_data.path()).entryInfoList(QDir::Files)) {
            QFile data(file.filePath());
            QVERIFY(data.open(QIODevice::ReadOnly));
            stored += data.readAll();
        }
        QVERIFY(stored.contains("first@vemko.test"));
        QVERIFY(!stored.contains("password-1"));
        QVERIFY(!stored.contains(m_token));
        QVERIFY(start(m_port));
        const QByteArray login = R"({"email":"first@vemko.test","password":"password-1"})";
        const QByteArray token =
            TokenResp::decode(call("POST", u"/api/v1/auth/login"_qs, login).json()).token.toUtf8();
        // The account, its paid subscription and its device are all still there.
        const Me me = Me::decode(call("GET", u"/api/v1/me"_qs, {}, token).json());
        QVERIFY(me.active && me.devices_used == 1);
    }
};

QTEST_GUILESS_MAIN(TestDevService)
#include "tst_devservice.moc"
