#pragma once

// An Updater against the test service, with every path in a temporary folder, a stand-in
// process for the app the install script waits for, and the updater's log captured.

#include "codesign/BundleKit.h"
#include "support/ApiFixture.h"
#include "support/Drive.h"
#include "support/FakeDesktop.h"
#include "update/Updater.h"

#include <QJsonObject>
#include <QList>
#include <QTemporaryDir>
#include <memory>

struct LogLine {
    QtMsgType type;
    QString text;
};

// Collects what the updater logs (and passes everything on to the usual output).
class UpdaterLog {
public:
    UpdaterLog() {
        s_current = this;
        m_previous = qInstallMessageHandler(&UpdaterLog::handle);
    }
    ~UpdaterLog() {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    QList<LogLine> lines;

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (s_current && context.category == QLatin1String("app.vemko.vpn.updater"))
            s_current->lines.append({type, text});
        if (s_current && s_current->m_previous)
            s_current->m_previous(type, context, text);
    }
    static inline UpdaterLog* s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
};

inline bool operator==(const LogLine& a, const LogLine& b) {
    return a.type == b.type && a.text == b.text;
}
inline char* toString(const LogLine& line) {
    return qstrdup((QByteArray::number(int(line.type)) + ' ' + line.text.toUtf8()).constData());
}

struct UpdaterFixture {
    explicit UpdaterFixture(const QString& installFolder = QStringLiteral("opt")) {
        setup.installPath = dir.filePath(installFolder + QStringLiteral("/Vemko VPN.AppDir"));
        setup.tempDir = dir.filePath(QStringLiteral("tmp"));
        QDir().mkpath(setup.tempDir);
        key = bundlekit::makeKeyPair(dir.path(), QStringLiteral("release"));
        setup.publicKey = key.publicPem;
        setup.codesign = bundlekit::codesignPath();
        setup.unzip = QStringLiteral("/usr/bin/unzip");
        standIn.start(QStringLiteral("sleep"), {QStringLiteral("600")});
        standIn.waitForStarted();
        setup.waitPid = standIn.processId();
        updater = std::make_unique<Updater>(api.api, api.store, desktop, api.network, setup);
        QObject::connect(updater.get(), &Updater::progressChanged,
                         [this] { progress.append(updater->progress()); });
    }
    ~UpdaterFixture() { endApp(); }

    // The app the script waits for has quit.
    void endApp() {
        if (standIn.state() != QProcess::NotRunning) {
            standIn.kill();
            standIn.waitForFinished();
        }
    }

    // The service offers `build` with its archive at "/update.zip".
    void offer(qint64 build, const QString& url = {}) {
        const QString archiveUrl = url.isNull() ? api.service.origin() + QStringLiteral("/update.zip") : url;
        api.service.on("GET", "/api/v1/app/version",
                       ScriptedReply::json(200, QJsonObject{{"version_code", build},
                                                            {"version_name", "1.2.3"},
                                                            {"url", archiveUrl},
                                                            {"notes", "Быстрее"}}));
    }
    void serveArchive(const QByteArray& bytes) {
        api.service.on("GET", "/update.zip", ScriptedReply::text(200, bytes, "application/zip"));
    }
    qsizetype archiveRequests() const { return api.service.requests("GET", "/update.zip").size(); }

    // A staging folder whose contents become the archive's top level.
    QString staging() const { return dir.filePath(QStringLiteral("staging")); }
    QString signedBundle(const QString& name, const QString& version, const QString& keyPem = {}) {
        const QString path = staging() + '/' + name;
        bundlekit::makeBundle(path, version, marker());
        bundlekit::codesign(QStringLiteral("sign"), keyPem.isEmpty() ? key.privatePem : keyPem, path);
        return path;
    }
    QByteArray stagedArchive() {
        return bundlekit::zipFolder(staging(), dir.filePath(QStringLiteral("built.zip")));
    }

    void installOld() { bundlekit::makeBundle(setup.installPath, QStringLiteral("1.0"), marker()); }
    QByteArray installedVersion() const {
        return bundlekit::readFile(setup.installPath + QStringLiteral("/VERSION"));
    }
    QString marker() const { return dir.filePath(QStringLiteral("launched")); }
    QString scriptPath() const { return setup.tempDir + QStringLiteral("/vemko-update.sh"); }

    bool checkNow(bool automatic = false) { return runTask(updater->check(automatic)); }
    bool installNow() { return runTask(updater->install()); }

    QTemporaryDir dir;
    UpdaterLog log;
    ApiFixture api;
    FakeDesktop desktop;
    bundlekit::KeyPair key;
    QProcess standIn;
    UpdaterSetup setup;
    std::unique_ptr<Updater> updater;
    QList<int> progress;
};
