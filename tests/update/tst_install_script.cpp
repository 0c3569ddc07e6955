#include "codesign/BundleKit.h"
#include "support/Drive.h"
#include "update/InstallScript.h"

#include <QTemporaryDir>
#include <QTest>

using namespace bundlekit;

class TestInstallScript : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // The id of a process that has already exited: the script goes straight to work.
    static qint64 goneProcess() {
        QProcess process;
        process.start(QStringLiteral("true"));
        process.waitForStarted();
        const qint64 pid = process.processId();
        process.waitForFinished();
        return pid;
    }

    int runScript(const QString& folder, const QString& incoming, const QString& installed) {
        const QString path = folder + QStringLiteral("/vemko-update.sh");
        writeFile(path, installScript(goneProcess(), incoming, installed).toUtf8(), true);
        return run(QStringLiteral("/bin/bash"), {path}, folder);
    }

private slots:
    void waitsForTheApp() {
        const QString script = installScript(731, QStringLiteral("/tmp/a"), QStringLiteral("/opt/b"));
        QCOMPARE(script.section(QLatin1Char('\n'), 0, 1),
                 QStringLiteral("#!/bin/bash\nwhile kill -0 731 2>/dev/null; do sleep 0.3; done"));
        QVERIFY(!script.endsWith(QLatin1Char('\n')));
    }

    void quotesPathsAsPlainWords() {
        QCOMPARE(shellQuote(QStringLiteral("it's")), QStringLiteral("'it'\\''s'"));
        // Every character a path may hold reaches the commands unchanged and runs nothing.
        const QString hostile = QStringLiteral("it's $(touch PWNED) `touch PWNED2` \"q\" $HOME \\ ;\nnext");
        const QString folder = m_dir.filePath(QStringLiteral("quoting"));
        const QString incoming = folder + QStringLiteral("/tmp ") + hostile + QStringLiteral("/New.AppDir");
        const QString installed =
            folder + QStringLiteral("/opt ") + hostile + QStringLiteral("/Vemko VPN.AppDir");
        const QString marker = folder + QStringLiteral("/launched");
        makeBundle(incoming, QStringLiteral("2.0"), marker);
        makeBundle(installed, QStringLiteral("1.0"));

        QCOMPARE(runScript(folder, incoming, installed), 0);
        QVERIFY(drive([&] { return readFile(marker).endsWith('\n'); }));
        QCOMPARE(readFile(installed + QStringLiteral("/VERSION")), QByteArray("2.0"));
        QCOMPARE(readFile(marker), "2.0 " + installed.toUtf8() + "/AppRun\n");
        QVERIFY(QDir(folder).entryList({QStringLiteral("PWNED*")}).isEmpty());
        QVERIFY(QDir(QDir::homePath()).entryList({QStringLiteral("PWNED*")}).isEmpty());
    }

    void failingCopyKeepsTheInstalledApp() {
        const QString folder = m_dir.filePath(QStringLiteral("failing"));
        const QString installed = folder + QStringLiteral("/opt/Vemko VPN.AppDir");
        const QString marker = folder + QStringLiteral("/launched");
        makeBundle(installed, QStringLiteral("1.0"), marker);

        // The unpacked bundle vanished before the copy.
        QVERIFY(runScript(folder, folder + QStringLiteral("/gone/New.AppDir"), installed) != 0);
        QCOMPARE(readFile(installed + QStringLiteral("/VERSION")), QByteArray("1.0"));
        QVERIFY(QFileInfo(installed + QStringLiteral("/AppRun")).isExecutable());
        QCOMPARE(QDir(folder + QStringLiteral("/opt")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("Vemko VPN.AppDir")});
        QVERIFY(!QFile::exists(marker)); // nothing is launched after a failure
    }
};

QTEST_GUILESS_MAIN(TestInstallScript)
#include "tst_install_script.moc"
