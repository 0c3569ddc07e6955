// vemkoctl end to end: signed in through a real Secret Service, connected through vemko-tunnel
// and the v2ray engine to a v2ray server on loopback, the probe passing through the tunnel.

#include "support/PrivateKeyring.h"
#include "support/TestService.h"
#include "tunnel-host/EngineFixture.h"

#include <QStandardPaths>
#include <QTemporaryDir>

using namespace engine_fixture;

class VemkoctlEngineTest : public QObject {
    Q_OBJECT

private slots:
    void connectsThroughTheRealEngine() {
        for (const char* tool : {"v2ray", "dbus-run-session", "gnome-keyring-daemon", "dbus-send"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(tool)));
        QVERIFY2(!portAccepts(10808), "port 10808 is in use by something else");
        const QString bin = qEnvironmentVariable("VEMKO_BUILD_DIR") + u"/bin"_qs;

        V2rayServer server;
        QTRY_VERIFY_WITH_TIMEOUT(server.ready(), 20000);
        const ServerProfile live = serverAt(u"Европа авто"_qs, server.port(), server.uuid());
        TestService service;
        const auto json = [](const char* body) {
            return ScriptedReply::text(200, body, "application/json");
        };
        service.on("POST", "/api/v1/auth/login", json(R"({"token":"tok"})"));
        service.on("GET", "/api/v1/me",
                   json(R"({"email":"u@example.com","active":true,"expire_at":"2099-01-01T00:00:00Z",)"
                        R"("devices_limit":3,"devices_used":1,"devices":[],"trial_available":false,)"
                        R"("promo_available":false,"support_url":""})"));
        service.on(
            "GET", "/api/v1/configs",
            ScriptedReply::text(200, '[' + QJsonDocument(live.config).toJson(QJsonDocument::Compact) + ']'));
        service.on("GET", "/api/v1/ip", json(R"({"exit":"127.0.0.1"})"));
        service.on("GET", "/json", json(R"({"ip":"127.0.0.1","city":"Loopback"})"));

        QTemporaryDir home;
        QProcess session;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"VEMKO_API_ORIGIN"_qs, service.origin());
        // Resolvable only at the far end: the exit address shows only through the tunnel.
        env.insert(u"VEMKO_IPINFO_URL"_qs,
                   QStringLiteral("http://%1:%2/json").arg(V2rayServer::tunnelOnlyHost).arg(service.port()));
        env.insert(u"PATH"_qs, bin + u':' + env.value(u"PATH"_qs));
        session.setProcessEnvironment(env);
        session.start(
            u"dbus-run-session"_qs,
            private_keyring::sessionArguments(
                home.path(),
                {u"sh"_qs, u"-c"_qs, uR"(printf '%s\n' pw | vemkoctl login u@example.com >/dev/null || exit 11
                                            vemkoctl connect || exit 12
                                            vemkoctl status || exit 13
                                            vemkoctl disconnect || exit 14)"_qs}));
        QVERIFY(QTest::qWaitFor([&] { return session.state() == QProcess::NotRunning; }, 120000));
        const QString out = QString::fromUtf8(session.readAllStandardOutput());
        const QString err = QString::fromUtf8(session.readAllStandardError());
        QVERIFY2(session.exitCode() == 0, qPrintable(out + err));
        QVERIFY2(out.startsWith(u"Подключено · Европа авто\nПодключено · Европа авто\nПодключено: "_qs),
                 qPrintable(out));
        QVERIFY2(out.contains(u"Адрес выхода: Loopback · 127.0.0.1\n"_qs), qPrintable(out));
        QVERIFY2(out.endsWith(u"Туннель отключён\n"_qs), qPrintable(out));
        // The probe went through the tunnel: once, or twice when the request was sent again (the
        // probe's second try, or Qt's own resend of a GET whose connection closed before the
        // answer); once seen on a fresh machine's loaded run.
        QVERIFY(!service.requests("GET", "/api/v1/ip").isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!portAccepts(10808), 20000); // and nothing is left running
    }
};

QTEST_GUILESS_MAIN(VemkoctlEngineTest)
#include "tst_vemkoctl_engine.moc"
