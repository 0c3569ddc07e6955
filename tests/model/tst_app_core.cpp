// The real Linux stack assembled as the app runs it: settings file, device facts, Secret Service
// (absent here), service client, tunnel platform, updater and model.

#include "model/AppCore.h"
#include "support/Drive.h"
#include "support/TestService.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

class AppCoreTest : public QObject {
    Q_OBJECT

private slots:
    void startsFromTheCachedServersWithoutASession() {
        QTemporaryDir home;
        TestService service;
        qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
        qputenv("XDG_RUNTIME_DIR", home.filePath("run").toUtf8());
        qputenv("VEMKO_API_ORIGIN", service.origin().toUtf8());
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"); // no Secret Service: signed out
        const auto server = [](const char* name) {
            return QJsonObject{{"remarks", name}};
        };
        const QJsonObject stored{
            {"configs",
             QString::fromUtf8(QJsonDocument(QJsonArray{server("Рига"), server("Вена")}).toJson())},
            {"profile_name", "Вена"}};
        QVERIFY(QDir().mkpath(home.filePath("config/vemko-vpn")));
        QFile file(home.filePath("config/vemko-vpn/defaults.json"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(stored).toJson());
        file.close();

        AppCore core;
        QCOMPARE(core.api().origin(), service.origin());
        QVERIFY(!core.model().signedIn());
        QCOMPARE(core.model().profiles().size(), 2);
        QCOMPARE(core.model().selected()->name, QStringLiteral("Вена"));
        QCOMPARE(core.vpn().profiles().size(), 2);
        settle(std::chrono::milliseconds(50)); // the tunnel's start-up load finds nothing saved
        QCOMPARE(core.vpn().status(), VpnStatus::Off);
        QVERIFY(service.requests().isEmpty()); // signed out: nothing is fetched
    }
};

QTEST_GUILESS_MAIN(AppCoreTest)
#include "tst_app_core.moc"
