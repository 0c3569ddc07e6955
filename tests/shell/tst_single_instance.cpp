// How a "vemko" link reaches the app: the desktop entry that makes vemko-vpn the links' handler,
// and one GUI per user: a real second vemko-vpn hands its sign-in link to the first and exits 0.

#include "DesktopEntry.h"
#include "MainWindow.h"
#include "SingleInstance.h"
#include "VemkoVPNApp.h"
#include "screens/UiRig.h"

#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class SingleInstanceTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { stillStyle(); }

    void secondLaunchSignsTheFirstIn() {
        QTemporaryDir runtime;
        const QString folder = runtime.filePath("vemko-vpn");
        SingleInstance first(folder);
        QDir().mkpath(folder);
        // A socket file left behind by a crashed copy does not stop us.
        QFile stale(first.socketPath());
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();
        QCOMPARE(first.claim({"vemko-vpn"}), SingleInstance::Role::First);

        QProcess second;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", runtime.path());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        second.setProcessEnvironment(environment);
        second.start(qEnvironmentVariable("VEMKO_BUILD_DIR") + "/bin/vemko-vpn",
                     {"--", "https://vemko.app/x", "vemko://auth?token=from-the-link"});
        // Arrives before the app is ready: kept for it. The sign-in link is found among others.
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 20000);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);

        UiRig rig;
        rig.serveAccount();
        rig.make();
        VemkoVPNApp app(rig.context(), rig.service().origin());
        first.setHandler([&app](const QStringList& arguments) { app.handleArguments(arguments); });
        QTRY_VERIFY_WITH_TIMEOUT(rig.model->signedIn(), 20000);
        QCOMPARE(rig.token(), std::optional<QString>("from-the-link"));
        QVERIFY(app.window()->isVisible());
    }

    void aSecondClaimInTheSameFolderForwards() {
        QTemporaryDir runtime;
        SingleInstance first(runtime.filePath("gui"));
        QCOMPARE(first.claim({"vemko-vpn"}), SingleInstance::Role::First);
        QStringList received;
        first.setHandler([&](const QStringList& arguments) { received = arguments; });
        // Garbage on the socket is dropped without harm.
        QLocalSocket junk;
        junk.connectToServer(first.socketPath());
        QVERIFY(junk.waitForConnected(20000));
        junk.write("\x7f\xff\xff\xffjunk");
        junk.flush();
        QTRY_COMPARE_WITH_TIMEOUT(junk.state(), QLocalSocket::UnconnectedState, 20000);
        QVERIFY(received.isEmpty());
    }

    void execQuotesEveryPath_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("quoted");
        const auto row = [](const char* tag, const char* program, const char* quoted) {
            QTest::newRow(tag) << QString(program) << QString(quoted);
        };
        row("plain", "/usr/bin/vemko-vpn", "\"/usr/bin/vemko-vpn\"");
        row("space", "/opt/Vemko VPN.AppDir/AppRun", "\"/opt/Vemko VPN.AppDir/AppRun\"");
        row("quote and dollar", "/tmp/a\"b$c/x", "\"/tmp/a\\\\\"b\\\\$c/x\"");
        row("percent", "/tmp/100%/x", "\"/tmp/100%%/x\"");
        row("backslash and backtick", "/tmp/a\\b`c", "\"/tmp/a\\\\\\\\b\\\\`c\"");
    }
    void execQuotesEveryPath() {
        QFETCH(QString, program);
        QFETCH(QString, quoted);
        QCOMPARE(DesktopEntry::quoteExec(program), quoted);
    }

    void writtenWhenMissingOrPointingElsewhere() {
        QTemporaryDir data;
        // xdg-mime, where installed, records the handler under the config folder: a private one.
        qputenv("XDG_CONFIG_HOME", data.filePath("config").toUtf8());
        const QString path = data.filePath("applications/vemko-vpn.desktop");
        QVERIFY(DesktopEntry::install("/opt/a/vemko-vpn", data.path()));
        QFile entry(path);
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(entry.readAll());
        entry.close();
        for (const char* line :
             {"Name=Vemko VPN\n", "Exec=\"/opt/a/vemko-vpn\" -- %u\n", "MimeType=x-scheme-handler/vemko;\n",
              "StartupWMClass=vemko-vpn\n", "Icon=vemko-vpn\n"})
            QVERIFY2(text.contains(QString::fromUtf8(line)), line);
        QVERIFY(QFile::exists(data.filePath("icons/hicolor/256x256/apps/vemko-vpn.png")));
        QVERIFY(!DesktopEntry::install("/opt/a/vemko-vpn", data.path())); // already right: left alone
        QVERIFY(DesktopEntry::install("/opt/b/vemko-vpn", data.path()));
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(entry.readAll()).contains("Exec=\"/opt/b/vemko-vpn\" -- %u"));
    }
};

QTEST_MAIN(SingleInstanceTest)
#include "tst_single_instance.moc"
