#pragma once

// An Updater against the test service, with every path in a temporary folder, a stand-in
// process for the app the install script waits for, the tools' time limits on a virtual clock, and
// the updater's log captured.

#include "codesign/BundleKit.h"
#include "support/ApiFixture.h"
#include "support/Drive.h"
#include "support/FakeDesktop.h"
#include "support/VirtualClock.h"
#include "update/Updater.h"

#include <QJsonObject>
#include <QTemporaryDir>
#include <memory>

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
