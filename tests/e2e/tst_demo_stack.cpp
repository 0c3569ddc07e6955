// scripts/demo-stack as `make run` runs it (the app straight from the build, offscreen), on a
// machine with a session bus and on one without: it comes up, and once the app quits for good, or
// on Ctrl-C, nothing it started is left.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

namespace {

// The processes whose environment holds `entry`: everything the stack started inherits it.
QList<qint64> processesWith(const QByteArray& entry) {
    QList<qint64> found;
    for (const QString& name : QDir(u"/proc"_qs).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = name.toLongLong(&number);
        QFile environ(u"/proc/"_qs + name + u"/environ"_qs);
        if (number && environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains(entry))
            found.append(pid);
    }
    return found;
}

} // namespace

class TestDemoStack : public QObject {
    Q_OBJECT
private slots:
    void stopsEverythingItStarted_data() {
        QTest::addColumn<bool>("sessionBus");
        QTest::addColumn<bool>("interrupt");
        QTest::newRow("session bus, the app quits") << true << false;
        QTest::newRow("session bus, Ctrl-C") << true << true;
        QTest::newRow("no session bus, the app quits") << false << false;
        QTest::newRow("no session bus, Ctrl-C") << false << true;
    }
    void stopsEverythingItStarted() {
        QFETCH(bool, sessionBus);
        QFETCH(bool, interrupt);
        QTemporaryDir dir;
        const QString build = qEnvironmentVariable("VEMKO_BUILD_DIR");
        const QString demo = dir.filePath(u"demo"_qs);
        const QByteArray mark = "VEMKO_DEMO_DIR=" + QFile::encodeName(demo);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(u"DBUS_SESSION_BUS_ADDRESS"_qs);
        env.insert(u"XDG_RUNTIME_DIR"_qs, dir.path()); // no "bus" socket in it
        env.insert(u"HOME"_qs, dir.path()); // where a keyring the bus starts for the app keeps its files
        env.insert(u"VEMKO_DEMO_DIR"_qs, demo);
        env.insert(u"VEMKO_DEMO_UPDATE"_qs, u"0"_qs);
        env.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
        QProcess stack;
        stack.setProcessEnvironment(env);
        stack.setProcessChannelMode(QProcess::MergedChannels);
        // A session of its own, as a terminal's Ctrl-C reaches the whole foreground group.
        QStringList arguments{QStringLiteral(VEMKO_SOURCE_DIR "/scripts/demo-stack"), build};
        if (sessionBus)
            arguments = QStringList{u"dbus-run-session"_qs, u"--"_qs} + arguments;
        stack.start(u"setsid"_qs, arguments);
        QByteArray output;
        const auto upAndRunning = [&] {
            output += stack.readAll();
            return output.contains("app.vemko.vpn.updater: ");
        };
        QTRY_VERIFY_WITH_TIMEOUT(upAndRunning() || stack.state() == QProcess::NotRunning, 60000);
        QVERIFY2(upAndRunning(), output.constData());
        QVERIFY(output.contains("Демо-стенд Вемко VPN запущен."));

        if (interrupt) {
            ::kill(-pid_t(stack.processId()), SIGINT);
        } else {
            qint64 app = 0;
            for (qint64 pid : processesWith(mark)) {
                if (QFile::symLinkTarget(u"/proc/%1/exe"_qs.arg(pid)) == build + u"/bin/vemko-vpn"_qs)
                    app = pid;
            }
            QVERIFY(app > 0);
            ::kill(pid_t(app), SIGTERM); // the app's quit, as the session's end asks for it
        }
        QTRY_COMPARE_WITH_TIMEOUT(stack.state(), QProcess::NotRunning, 60000);
        if (!interrupt) // make run's status after a clean quit
            QCOMPARE(stack.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(processesWith(mark), QList<qint64>{}, 30000);
    }
};

QTEST_GUILESS_MAIN(TestDemoStack)
#include "tst_demo_stack.moc"
