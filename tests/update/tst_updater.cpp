// The updater against the test service: which answers make an offer and start an installation,
// then the installation from the download to the install script's swap and relaunch. Whatever fails
// or passes a bound keeps the installed app.

#include "codesign/BundleKit.h"
#include "support/ApiFixture.h"
#include "support/FakeDesktop.h"
#include "support/VirtualClock.h"
#include "update/InstallScript.h"
#include "update/Updater.h"

#include <QDirIterator>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <memory>

using namespace bundlekit;

// Everything the updater logs, as "<QtMsgType> <text>" lines (all output still goes on as usual).
inline QStringList updaterLog;
inline QtMessageHandler passOnLog = nullptr;
inline void collectLog(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (context.category == QLatin1String("app.vemko.vpn.updater"))
        updaterLog.append(QString::number(type) + u' ' + text);
    if (passOnLog)
        passOnLog(type, context, text);
}
inline QString info(const QString& text) {
    return QString::number(QtInfoMsg) + u' ' + text;
}
inline QString critical(const QString& text) {
    return QString::number(QtCriticalMsg) + u' ' + text;
}

// An Updater with every path in a temporary folder, a stand-in process for the app the install
// script waits for, and the tools' time limits on a virtual clock.
struct UpdaterFixture {
    // The installed app lies in `folder`, the temporary files in a sibling of it.
    explicit UpdaterFixture(const QString& folder = u"opt"_qs) {
        log.clear();
        passOnLog = qInstallMessageHandler(&collectLog);
        setup.installPath = dir.filePath(folder + u"/Vemko VPN.AppDir"_qs);
        setup.tempDir = dir.filePath(folder + u"-tmp"_qs);
        QDir().mkpath(setup.tempDir);
        key = bundlekit::makeKeyPair(dir.path(), u"release"_qs);
        setup.publicKey = key.publicPem;
        setup.codesign = bundlekit::codesignPath();
        standIn.start(u"sleep"_qs, {u"600"_qs});
        standIn.waitForStarted();
        setup.waitPid = standIn.processId();
        updater = std::make_unique<Updater>(api.api, api.store, desktop, api.network, clock, setup);
        QObject::connect(updater.get(), &Updater::progressChanged,
                         [this] { progress.append(updater->progress()); });
    }
    ~UpdaterFixture() {
        endApp();
        qInstallMessageHandler(passOnLog);
    }

    // The app the script waits for has quit.
    void endApp() {
        standIn.kill();
        standIn.waitForFinished();
    }

    // The service offers `build` with its archive at "/update.zip".
    void offer(qint64 build, const QString& url = {}) {
        api.service.on(
            "GET", "/api/v1/app/version",
            ScriptedReply::json(
                200, QJsonObject{{"version_code", build},
                                 {"version_name", "1.2.3"},
                                 {"url", url.isNull() ? api.service.origin() + "/update.zip" : url},
                                 {"notes", "Быстрее"}}));
    }
    void serveArchive(const QByteArray& bytes) {
        api.service.on("GET", "/update.zip", ScriptedReply::text(200, bytes, "application/zip"));
    }
    qsizetype archiveRequests() const { return api.service.requests("GET", "/update.zip").size(); }

    // A staging folder whose contents become the archive's top level.
    QString staging() const { return dir.filePath(u"staging"_qs); }
    QString signedBundle(const QString& name, const QString& version, const QString& keyPem = {}) {
        const QString path = staging() + '/' + name;
        bundlekit::makeBundle(path, version, marker());
        bundlekit::codesign(u"sign"_qs, keyPem.isEmpty() ? key.privatePem : keyPem, path);
        return path;
    }
    QByteArray stagedArchive() { return bundlekit::zipFolder(staging(), dir.filePath(u"built.zip"_qs)); }

    void installOld() { bundlekit::makeBundle(setup.installPath, u"1.0"_qs, marker()); }
    QByteArray installedVersion() const { return bundlekit::readFile(setup.installPath + u"/VERSION"_qs); }
    QString marker() const { return dir.filePath(u"launched"_qs); }
    QString scriptPath() const { return setup.tempDir + u"/vemko-update.sh"_qs; }

    bool checkNow(bool automatic = false) { return runTask(updater->check(automatic)); }
    // Virtual time stands still: the tools run to their end (a test moves the clock to a time limit).
    bool installNow() { return runTask(updater->install()); }

    QTemporaryDir dir;
    QStringList& log = updaterLog;
    ApiFixture api;
    FakeDesktop desktop;
    VirtualClock clock; // the tools' time limits
    bundlekit::KeyPair key;
    QProcess standIn;
    UpdaterSetup setup;
    std::unique_ptr<Updater> updater;
    QList<int> progress;
};

namespace {
const QString notSigned = u"подпись обновления не подтверждена"_qs;
const QString damaged = u"архив повреждён"_qs;
const QString tooLarge = u"архив обновления слишком велик"_qs;
// Every character a path may hold reaches the install script's commands unchanged and runs nothing.
const QString hostile = u"it's $(touch PWNED) `touch PWNED2` \"q\" $HOME \\ ;"_qs;

// One check and what it gives; our build is 42.
struct Offer {
    qint64 earlier = 0; // an earlier check's build, 0 for none
    qint64 build = 43;
    bool automatic = true, autoUpdate = true;
    bool packaged = false; // installed by the system's package manager
    qint64 offered = 43;   // 0 for no offer
    bool installs = false;
};

// An archive that must not be installed, and the reason shown.
struct Failure {
    QString bundle = u"Vemko VPN.AppDir"_qs; // where the signed AppDir lies in the archive; none: 404
    QString changed = {};                    // a file written after signing
    bool otherKey = false;
    QByteArray damage = {}; // "truncated", or "twice": "VERSIOM" renamed VERSION
    QString text = damaged;
};
} // namespace

class TestUpdater : public QObject {
    Q_OBJECT

    // Offers build 43 and runs the installation to its end.
    static bool offerAndInstall(UpdaterFixture& f) {
        f.offer(43);
        if (!f.checkNow())
            return false;
        f.log.clear();
        return f.installNow();
    }

private slots:
    // An offer once made stays: a lower answer later never withdraws it.
    void offers_data() {
        QTest::addColumn<Offer>("o");
        QTest::newRow("equal build") << Offer{.build = 42, .offered = 0};
        QTest::newRow("higher, on demand") << Offer{.automatic = false};
        QTest::newRow("higher, automatic, updates on") << Offer{.installs = true};
        QTest::newRow("higher, automatic, updates off") << Offer{.autoUpdate = false};
        QTest::newRow("higher, automatic, from a package") << Offer{.packaged = true};
        QTest::newRow("lower after an offer") << Offer{.earlier = 44, .build = 41, .offered = 44};
    }
    void offers() {
        QFETCH(Offer, o);
        UpdaterFixture f;
        if (o.packaged) {
            f.setup.packageManaged = true;
            f.updater =
                std::make_unique<Updater>(f.api.api, f.api.store, f.desktop, f.api.network, f.clock, f.setup);
            QVERIFY(f.updater->packageManaged());
        }
        f.api.defaults.setBoolean(u"auto_update"_qs, o.autoUpdate);
        if (o.earlier) {
            f.offer(o.earlier);
            QVERIFY(f.checkNow());
        }
        f.offer(o.build); // same version name as ours: only the build decides
        QSignalSpy changed(f.updater.get(), &Updater::availableChanged);
        QVERIFY(f.checkNow(o.automatic));

        QCOMPARE(f.log.value(o.earlier ? 1 : 0), info(u"проверка: на сервере %1, у нас 42"_qs.arg(o.build)));
        QCOMPARE(f.updater->available() ? f.updater->available()->version_code : 0, o.offered);
        QCOMPARE(changed.count(), o.offered && !o.earlier ? 1 : 0);
        // The archive is not found: an installation that ran ends in the download's failure.
        QCOMPARE(f.archiveRequests(), o.installs ? 1 : 0);
        QCOMPARE(f.updater->message(), o.installs
                                           ? std::optional(u"Не удалось обновиться: сервер не отдал файл"_qs)
                                           : std::nullopt);
        QCOMPARE(f.progress, o.installs ? QList<int>({0, -1}) : QList<int>());
    }

    // A failed check only logs the service's word; the earlier offer stays.
    void failedRequestOnlyLogs() {
        UpdaterFixture f;
        f.offer(43);
        QVERIFY(f.checkNow());
        f.log.clear();
        f.api.service.on("GET", "/api/v1/app/version",
                         ScriptedReply::json(503, QJsonObject{{"error", "Техработы"}}));
        QSignalSpy available(f.updater.get(), &Updater::availableChanged);
        QSignalSpy message(f.updater.get(), &Updater::messageChanged);
        QVERIFY(f.checkNow(true));
        QCOMPARE(f.log, QStringList{critical(u"проверка не удалась: Техработы"_qs)});
        QCOMPARE(f.updater->available()->version_code, 43);
        QCOMPARE(available.count() + message.count(), 0);
        QCOMPARE(f.updater->progress(), -1);
        QCOMPARE(f.archiveRequests(), 0);
    }

    void guardsChangeNothing() {
        UpdaterFixture f;
        QVERIFY(f.installNow()); // nothing offered yet
        f.offer(43, u"http://exa mple.com/update zip"_qs);
        QVERIFY(f.checkNow());
        f.log.clear();
        QSignalSpy message(f.updater.get(), &Updater::messageChanged);
        QVERIFY(f.installNow());
        QVERIFY(f.progress.isEmpty());
        QCOMPARE(message.count(), 0);
        QVERIFY(f.log.isEmpty());
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

    // The script waits for the app to quit, swaps the bundle and launches the new AppRun; when its
    // copy fails (the unpacked bundle vanished) the installed app stays whole and nothing launches.
    void signedUpdateReplacesAndRelaunches_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QStringList>("bundles"); // the archive's AppDirs
        QTest::addColumn<bool>("copyFails");
        const QStringList one{u"Vemko VPN.AppDir"_qs};
        QTest::newRow("over the installed app") << "opt" << true << one << false;
        QTest::newRow("first installation") << "not/yet" << false << one << false;
        QTest::newRow("quote, $, backtick in paths")
            << "opt " + hostile << true << QStringList{hostile + ".AppDir"} << false;
        QTest::newRow("two AppDirs: first listed wins")
            << "opt" << true << QStringList{"A.AppDir", "B.AppDir"} << false;
        QTest::newRow("copy fails in the script") << "opt" << true << one << true;
    }
    void signedUpdateReplacesAndRelaunches() {
        QFETCH(QString, folder);
        QFETCH(bool, installed);
        QFETCH(QStringList, bundles);
        QFETCH(bool, copyFails);
        UpdaterFixture f(folder);
        if (installed)
            f.installOld();
        for (const QString& name : bundles)
            f.signedBundle(name, name); // the version names the bundle
        f.serveArchive(f.stagedArchive());
        QVERIFY(offerAndInstall(f));

        // Downloaded, then on as the entries unpack, unpacked, verified, handed over.
        QCOMPARE(f.progress.mid(0, 2), (QList<int>{0, 60}));
        QCOMPARE(f.progress.mid(f.progress.size() - 3), (QList<int>{80, 90, 100}));
        QVERIFY(f.progress.size() > 5 && std::is_sorted(f.progress.begin(), f.progress.end()));
        QCOMPARE(f.updater->message(), std::nullopt);
        QCOMPARE(f.desktop.terminations, 1);
        QCOMPARE(f.log, (QStringList{info(u"качаю обновление"_qs),
                                     info(u"подменяю приложение и перезапускаюсь"_qs)}));
        QVERIFY(readFile(f.scriptPath())
                    .startsWith("#!/bin/bash\nwhile kill -0 " + QByteArray::number(f.setup.waitPid)));
        QCOMPARE(f.installedVersion(), installed ? QByteArray("1.0") : QByteArray()); // still waiting
        const QString first = QDir(f.setup.tempDir + u"/vemko-update"_qs)
                                  .entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted)
                                  .value(0);

        if (copyFails)
            QVERIFY(QDir(f.setup.tempDir + u"/vemko-update"_qs).removeRecursively());
        f.endApp();
        if (copyFails) // the same script, run here to its end (the detached one fails alike)
            QVERIFY(run(u"/bin/bash"_qs, {f.scriptPath()}) > 0);
        else
            QVERIFY(drive([&] { return readFile(f.marker()).endsWith('\n'); }));
        QCOMPARE(f.installedVersion(), copyFails ? "1.0" : first.toUtf8());
        QCOMPARE(QString::fromUtf8(readFile(f.marker())),
                 copyFails ? QString() : first + u' ' + f.setup.installPath + "/AppRun\n");
        QCOMPARE(codesign(u"verify"_qs, f.key.publicPem, f.setup.installPath), copyFails ? 1 : 0);
        // Nothing is left beside the installed app, nothing else ran.
        QCOMPARE(QDir(QFileInfo(f.setup.installPath).absolutePath())
                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{u"Vemko VPN.AppDir"_qs});
        QVERIFY(QDir(f.dir.path()).entryList({u"PWNED*"_qs}).isEmpty());
        QVERIFY(QDir(QDir::homePath()).entryList({u"PWNED*"_qs}).isEmpty());
    }

    void failuresKeepTheInstalledApp_data() {
        QTest::addColumn<Failure>("failure");
        QTest::newRow("not found") << Failure{.bundle = {}, .text = u"сервер не отдал файл"_qs};
        QTest::newRow("truncated archive") << Failure{.damage = "truncated"};
        // unzip asks whether to replace the first copy: it must read "no answer", not wait for one
        QTest::newRow("entry twice") << Failure{.changed = u"/VERSIOM"_qs, .damage = "twice"};
        QTest::newRow("AppDir only nested deeper") << Failure{.bundle = u"payload/Vemko VPN.AppDir"_qs};
        QTest::newRow("file changed after signing")
            << Failure{.changed = u"/usr/bin/vemko-vpn"_qs, .text = notSigned};
        QTest::newRow("signed by another key") << Failure{.otherKey = true, .text = notSigned};
    }
    void failuresKeepTheInstalledApp() {
        QFETCH(Failure, failure);
        UpdaterFixture f;
        f.installOld();
        if (!failure.bundle.isEmpty()) {
            const QString key = failure.otherKey ? makeKeyPair(f.dir.path(), "other").privatePem : QString();
            const QString path = f.signedBundle(failure.bundle, u"2.0"_qs, key);
            if (!failure.changed.isEmpty())
                writeFile(path + failure.changed, "#!/bin/sh\necho evil\n", true);
            QByteArray archive = f.stagedArchive();
            if (failure.damage == "truncated")
                archive.truncate(archive.size() / 2);
            else if (failure.damage == "twice")
                archive.replace("VERSIOM", "VERSION");
            f.serveArchive(archive);
        }
        QVERIFY(offerAndInstall(f));
        QCOMPARE(f.updater->progress(), -1);
        QCOMPARE(f.updater->message(), std::optional(u"Не удалось обновиться: "_qs + failure.text));
        QCOMPARE(f.log.last(), critical(u"обновление не удалось: "_qs + failure.text));
        QCOMPARE(f.desktop.terminations, 0);
        QVERIFY(!QFile::exists(f.scriptPath()));
        QCOMPARE(f.installedVersion(), QByteArray("1.0"));
        QVERIFY(f.updater->hasAvailable()); // the user can try again
    }

    // What an update may cost is bounded: the download, what the archive's directory promises,
    // what its entries really hold (a lying archive), and the time unpacking and the signature
    // check may take, while the event loop stays free.
    void boundsKeepTheInstalledApp_data() {
        QTest::addColumn<QString>("bound");
        QTest::addColumn<QString>("text");
        QTest::newRow("download past its limit") << "download" << tooLarge;
        QTest::newRow("declares 2 GB") << "bomb" << tooLarge;
        QTest::newRow("too many entries") << "entries" << tooLarge;
        QTest::newRow("declares 1000 bytes, holds 8 MB") << "lying" << damaged;
        QTest::newRow("unpacking never ends") << "unpack" << damaged;
        QTest::newRow("signature check never ends") << "verify" << notSigned;
    }
    void boundsKeepTheInstalledApp() {
        QFETCH(QString, bound);
        QFETCH(QString, text);
        UpdaterFixture f;
        f.installOld();
        const QString bundle = f.signedBundle(u"Vemko VPN.AppDir"_qs, u"2.0"_qs);
        if (bound == "lying") // compresses to a few KB
            QVERIFY(writeFile(bundle + u"/usr/share/zeros"_qs, QByteArray(8 << 20, '\0')));
        QByteArray archive = f.stagedArchive();
        UpdaterSetup setup = f.setup;
        const QString hang = f.dir.filePath(u"hang"_qs);
        writeFile(hang,
                  "#!/bin/sh\n[ \"$1\" = " + bound.toUtf8() + " ] && exec sleep 600\nexec " +
                      shellWord(f.setup.codesign) + " \"$@\"\n",
                  true);
        setup.codesign = hang;
        if (bound == "download")
            setup.downloadLimit = archive.size() - 1;
        if (bound == "entries")
            setup.entryLimit = 3;
        // The directory's (and for the lying archive also the local header's) size of an entry.
        const auto declare = [&](const QByteArray& name, quint32 size) {
            for (const auto& [signature, at] :
                 {std::pair{QByteArray("PK\x01\x02"), 24}, {QByteArray("PK\x03\x04"), 22}}) {
                for (qsizetype entry = archive.indexOf(signature); entry >= 0;
                     entry = archive.indexOf(signature, entry + 4)) {
                    const qsizetype nameAt = entry + (signature[2] == 1 ? 46 : 30);
                    if (archive.mid(nameAt, name.size()) == name && (signature[2] == 1 || bound == "lying"))
                        qToLittleEndian(size, archive.data() + entry + at);
                }
            }
        };
        if (bound == "bomb")
            declare("Vemko VPN.AppDir/VERSION", 0x7ffffff0);
        if (bound == "lying")
            declare("Vemko VPN.AppDir/usr/share/zeros", 1000);
        f.serveArchive(archive);
        f.updater =
            std::make_unique<Updater>(f.api.api, f.api.store, f.desktop, f.api.network, f.clock, setup);
        f.offer(43);
        QVERIFY(f.checkNow());
        auto install = spawn(f.updater->install());
        if (bound == "unpack" || bound == "verify") {
            // The tool hangs, the app does not: progress still reaches the screens.
            QVERIFY(drive([&] { return f.updater->progress() >= (bound == "verify" ? 80 : 60); }));
            f.clock.advance(setup.toolLimit);
        }
        QVERIFY(drive([&] { return *install; }));
        QCOMPARE(f.updater->message(), std::optional(u"Не удалось обновиться: "_qs + text));
        QCOMPARE(f.installedVersion(), QByteArray("1.0"));
        QCOMPARE(f.desktop.terminations, 0);
        qint64 written = 0;
        for (QDirIterator it(f.setup.tempDir + u"/vemko-update"_qs, QDir::Files,
                             QDirIterator::Subdirectories);
             it.hasNext();)
            written += QFileInfo(it.next()).size();
        const bool checkedFirst = bound == "download" || bound == "bomb" || bound == "entries";
        QVERIFY2(written < (checkedFirst ? 1 : 1 << 20), qPrintable(QString::number(written))); // of 8 MB
    }

    // A copy folder an interrupted run left under the script's name must not take the new bundle
    // one level down: the swap happens with AppRun at the top, or not at all.
    void leftoverIncomingFolderIsCleared() {
        UpdaterFixture f;
        f.installOld();
        const QString bundle = f.signedBundle(u"Vemko VPN.AppDir"_qs, u"2.0"_qs);
        f.endApp();
        const QString script = f.dir.filePath(u"install.sh"_qs);
        writeFile(script, installScript(f.setup.waitPid, bundle, f.setup.installPath).toUtf8());
        // exec keeps the pid, so the script's "$$" is the one the leftover was named after
        QProcess run;
        run.start(u"/bin/bash"_qs, {u"-c"_qs, uR"(mkdir -p "$1.incoming-$$/stale" && exec /bin/bash "$2")"_qs,
                                    u"bash"_qs, f.setup.installPath, script});
        QVERIFY(run.waitForFinished(30'000));
        QCOMPARE(run.exitCode(), 0);
        QCOMPARE(f.installedVersion(), QByteArray("2.0"));
        QVERIFY(QFileInfo(f.setup.installPath + u"/AppRun"_qs).isExecutable());
        QVERIFY(!QFileInfo::exists(f.setup.installPath + u"/stale"_qs));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(f.marker()), 20000);
    }

    // The temporary files live in a folder only we can write: a link to elsewhere is refused before
    // anything is fetched, a folder others may write into is closed up.
    void temporaryFolderIsPrivate() {
        UpdaterFixture f;
        const QString elsewhere = f.dir.filePath(u"elsewhere"_qs);
        QVERIFY(QDir().mkpath(elsewhere) && QDir(f.setup.tempDir).removeRecursively() &&
                QFile::link(elsewhere, f.setup.tempDir));
        QVERIFY(offerAndInstall(f));
        QCOMPARE(f.updater->message(), std::optional(u"Не удалось обновиться: "_qs + f.setup.tempDir +
                                                     u": not a private folder of this user"_qs));
        QCOMPARE(f.archiveRequests(), 0);
        QVERIFY(QDir(elsewhere).isEmpty());

        QVERIFY(QFile::remove(f.setup.tempDir) && QDir().mkdir(f.setup.tempDir, QFile::Permissions(0x7777)));
        QVERIFY(f.installNow());
        QCOMPARE(f.archiveRequests(), 1);
        QCOMPARE(QFile::permissions(f.setup.tempDir) & 0x0077, QFile::Permissions());
    }
};

QTEST_GUILESS_MAIN(TestUpdater)
#include "tst_updater.moc"
