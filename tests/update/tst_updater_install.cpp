#include "update/UpdaterFixture.h"

#include <QSignalSpy>
#include <QTest>
#include <dirent.h>
#include <functional>

namespace {

const QString notSigned = QStringLiteral("подпись обновления не подтверждена");
const QString damaged = QStringLiteral("архив повреждён");

// The folder's entries in the order the file system lists them.
QStringList listingOrder(const QString& folder) {
    QStringList names;
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name != QLatin1String(".") && name != QLatin1String(".."))
            names.append(name);
    }
    ::closedir(dir);
    return names;
}

QStringList lines(const QByteArray& text) {
    return QString::fromUtf8(text).split(QLatin1Char('\n'));
}

} // namespace

class TestUpdaterInstall : public QObject {
    Q_OBJECT

    // Ends the stand-in app and waits for the script to launch the installed AppRun.
    static bool relaunched(UpdaterFixture& f) {
        f.endApp();
        return drive([&] { return bundlekit::readFile(f.marker()).endsWith('\n'); });
    }

private slots:
    void guardsChangeNothing() {
        UpdaterFixture f;
        QVERIFY(f.installNow()); // nothing offered yet
        QVERIFY(f.progress.isEmpty());
        QVERIFY(f.log.lines.isEmpty());

        f.offer(43, QStringLiteral("http://exa mple.com/update zip"));
        QVERIFY(f.checkNow());
        f.log.lines.clear();
        QSignalSpy message(f.updater.get(), &Updater::messageChanged);
        QVERIFY(f.installNow());
        QVERIFY(f.progress.isEmpty());
        QCOMPARE(message.count(), 0);
        QVERIFY(f.log.lines.isEmpty());
        QCOMPARE(f.api.service.requests().size(), 1); // the check only
    }

    void secondInstallWhileRunningDoesNothing() {
        UpdaterFixture f;
        f.offer(43);
        QVERIFY(f.checkNow());
        auto first = f.updater->install();
        QCOMPARE(f.updater->progress(), 0);
        auto second = f.updater->install();
        QVERIFY(runTask(std::move(first)));
        QVERIFY(runTask(std::move(second)));
        QCOMPARE(f.archiveRequests(), 1);
        QCOMPARE(f.progress, (QList<int>{0, -1}));
    }

    void signedUpdateReplacesAndRelaunches_data() {
        QTest::addColumn<bool>("installed");
        QTest::newRow("over the installed app") << true;
        QTest::newRow("first installation") << false;
    }

    void signedUpdateReplacesAndRelaunches() {
        QFETCH(bool, installed);
        UpdaterFixture f(installed ? QStringLiteral("opt") : QStringLiteral("not/yet"));
        if (installed)
            f.installOld();
        f.signedBundle(QStringLiteral("Vemko VPN.AppDir"), QStringLiteral("2.0"));
        f.serveArchive(f.stagedArchive());
        f.offer(43);
        QVERIFY(f.checkNow());
        f.log.lines.clear();

        QVERIFY(f.installNow());
        QCOMPARE(f.progress, (QList<int>{0, 60, 80, 90, 100}));
        QCOMPARE(f.updater->message(), std::nullopt);
        QCOMPARE(f.desktop.terminations, 1);
        QCOMPARE(f.log.lines,
                 (QList<LogLine>{{QtInfoMsg, QStringLiteral("качаю обновление")},
                                 {QtInfoMsg, QStringLiteral("подменяю приложение и перезапускаюсь")}}));
        const QStringList script = lines(bundlekit::readFile(f.scriptPath()));
        QCOMPARE(script.value(0), QStringLiteral("#!/bin/bash"));
        QCOMPARE(script.value(1),
                 QStringLiteral("while kill -0 %1 2>/dev/null; do sleep 0.3; done").arg(f.setup.waitPid));
        QVERIFY(QFileInfo(f.scriptPath()).isExecutable());
        // The script waits for the app to quit before it touches anything.
        QCOMPARE(f.installedVersion(), installed ? QByteArray("1.0") : QByteArray());

        QVERIFY(relaunched(f));
        QCOMPARE(f.installedVersion(), QByteArray("2.0"));
        QCOMPARE(bundlekit::readFile(f.marker()), "2.0 " + f.setup.installPath.toUtf8() + "/AppRun\n");
        QCOMPARE(bundlekit::codesign(QStringLiteral("verify"), f.key.publicPem, f.setup.installPath), 0);
        // Nothing is left beside the installed app.
        QCOMPARE(QDir(QFileInfo(f.setup.installPath).absolutePath())
                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("Vemko VPN.AppDir")});
    }

    void failuresKeepTheInstalledApp_data() {
        using Prepare = std::function<void(UpdaterFixture&)>;
        QTest::addColumn<Prepare>("prepare");
        QTest::addColumn<QString>("text");
        const auto bundle = [](UpdaterFixture& f) {
            return f.signedBundle("Vemko VPN.AppDir", "2.0");
        };

        QTest::newRow("not found") << Prepare([](UpdaterFixture&) {})
                                   << QStringLiteral("сервер не отдал файл");
        QTest::newRow("truncated archive") << Prepare([=](UpdaterFixture& f) {
            bundle(f);
            const QByteArray archive = f.stagedArchive();
            f.serveArchive(archive.left(archive.size() / 2));
        }) << damaged;
        QTest::newRow("not a zip") << Prepare([](UpdaterFixture& f) { f.serveArchive("<html>oops</html>"); })
                                   << damaged;
        QTest::newRow("AppDir only nested deeper") << Prepare([](UpdaterFixture& f) {
            f.signedBundle("payload/Vemko VPN.AppDir", "2.0");
            f.serveArchive(f.stagedArchive());
        }) << damaged;
        QTest::newRow("file added after signing") << Prepare([=](UpdaterFixture& f) {
            bundlekit::writeFile(bundle(f) + "/usr/bin/helper", "#!/bin/sh\n", true);
            f.serveArchive(f.stagedArchive());
        }) << notSigned;
        QTest::newRow("file changed after signing") << Prepare([=](UpdaterFixture& f) {
            bundlekit::writeFile(bundle(f) + "/usr/bin/vemko-vpn", "#!/bin/sh\necho evil\n", true);
            f.serveArchive(f.stagedArchive());
        }) << notSigned;
        QTest::newRow("signed by another key") << Prepare([](UpdaterFixture& f) {
            const auto other = bundlekit::makeKeyPair(f.dir.path(), "other");
            f.signedBundle("Vemko VPN.AppDir", "2.0", other.privatePem);
            f.serveArchive(f.stagedArchive());
        }) << notSigned;
        QTest::newRow("unsigned") << Prepare([](UpdaterFixture& f) {
            bundlekit::makeBundle(f.staging() + "/Vemko VPN.AppDir", "2.0", f.marker());
            f.serveArchive(f.stagedArchive());
        }) << notSigned;
    }

    void failuresKeepTheInstalledApp() {
        QFETCH(std::function<void(UpdaterFixture&)>, prepare);
        QFETCH(QString, text);
        UpdaterFixture f;
        f.installOld();
        prepare(f);
        f.offer(43);
        QVERIFY(f.checkNow());
        f.log.lines.clear();

        QVERIFY(f.installNow());
        QCOMPARE(f.updater->progress(), -1);
        QVERIFY(!f.progress.contains(100));
        QCOMPARE(f.updater->message(), std::optional(QStringLiteral("Не удалось обновиться: ") + text));
        QCOMPARE(f.log.lines.last(),
                 (LogLine{QtCriticalMsg, QStringLiteral("обновление не удалось: ") + text}));
        QCOMPARE(f.desktop.terminations, 0);
        QVERIFY(!QFile::exists(f.scriptPath()));
        QCOMPARE(f.installedVersion(), QByteArray("1.0"));
        QVERIFY(f.updater->hasAvailable()); // the user can try again
    }

    void firstAppDirInTheListingWins() {
        UpdaterFixture f;
        f.installOld();
        f.signedBundle(QStringLiteral("A.AppDir"), QStringLiteral("a"));
        f.signedBundle(QStringLiteral("B.AppDir"), QStringLiteral("b"));
        f.serveArchive(f.stagedArchive());
        f.offer(43);
        QVERIFY(f.checkNow());
        QVERIFY(f.installNow());
        QCOMPARE(f.updater->progress(), 100);

        const QStringList order = listingOrder(f.setup.tempDir + QStringLiteral("/vemko-update"));
        QCOMPARE(order.size(), 2);
        const QByteArray first = order[0] == QLatin1String("A.AppDir") ? "a" : "b";
        QVERIFY(relaunched(f));
        QCOMPARE(f.installedVersion(), first);
    }
};

QTEST_GUILESS_MAIN(TestUpdaterInstall)
#include "tst_updater_install.moc"
