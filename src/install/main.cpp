// vemko-install: the first installation of an AppDir for this user. Checks the bundle's signature
// against the key it ships, then runs the very swap script the updater hands over to, so a first
// install and an update lay the app down the same way:
//   vemko-install BUNDLE        (AppRun --install and install.sh call it with their own AppDir)
// Installs to ~/.local/opt/Vemko VPN.AppDir; exit status 0 only when the new bundle is in place.

#include "platform/TunnelPaths.h"
#include "update/InstallScript.h"
#include "update/Updater.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <cstdio>
#include <unistd.h>

namespace {

int fail(const QString& text) {
    std::fprintf(stderr, "vemko-install: %s\n", text.toLocal8Bit().constData());
    return 1;
}

int run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted(-1))
        return -1;
    process.waitForFinished(-1);
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// The script waits for the app it replaces to quit. A first install replaces no running app: hand
// it a process that has already ended (started and reaped here), so it goes straight on.
// Never 0 or less: "kill -0 0" asks about our own process group and would wait forever.
qint64 endedProcess() {
    QProcess done;
    done.start(QStringLiteral("/bin/true"), {});
    if (!done.waitForStarted(-1))
        return -1;
    const qint64 pid = done.processId(); // Qt forgets it once the process has ended
    done.waitForFinished(-1);
    return pid;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 1)
        return fail(QStringLiteral("использование: vemko-install ПАПКА.AppDir"));
    const QString bundle = QFileInfo(args[0]).canonicalFilePath();
    const QString target = UpdaterSetup::defaultInstallPath();
    if (bundle.isEmpty() || !QFileInfo(bundle + QStringLiteral("/AppRun")).isExecutable())
        return fail(args[0] + QStringLiteral(": это не папка приложения Vemko VPN"));
    if (bundle == QFileInfo(target).canonicalFilePath()) {
        std::printf("Vemko VPN уже установлен в %s\n", target.toLocal8Bit().constData());
        return 0;
    }

    const QString bin = bundle + QStringLiteral("/bin");
    const QStringList verify{QStringLiteral("verify"), QStringLiteral("--key"),
                             bin + QStringLiteral("/vemko-update-key.pem"), bundle};
    if (run(bin + QStringLiteral("/vemko-codesign"), verify) != 0)
        return fail(QStringLiteral("подпись приложения не подтверждена, установка отменена"));

    const qint64 ended = endedProcess();
    if (ended <= 0)
        return fail(QStringLiteral("/bin/true не запускается"));
    const QString temp = UpdaterSetup::defaults().tempDir;
    if (!TunnelPaths::ensurePrivateDir(temp))
        return fail(temp + QStringLiteral(": не своя закрытая папка"));
    const QString scriptPath = QDir(temp).filePath(QStringLiteral("vemko-install.sh"));
    QSaveFile script(scriptPath);
    if (!script.open(QIODevice::WriteOnly) ||
        script.write(installScript(ended, bundle, target).toUtf8()) < 0 || !script.commit())
        return fail(scriptPath + QStringLiteral(": ") + script.errorString());

    if (run(QStringLiteral("/bin/bash"), {scriptPath}) != 0)
        return fail(QStringLiteral("не удалось скопировать приложение в ") + target);
    QFile::remove(scriptPath);
    std::printf("Vemko VPN установлен в %s\n", target.toLocal8Bit().constData());
    return 0;
}
