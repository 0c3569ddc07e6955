#include "platform/TunnelPaths.h"

#include "platform/InstallLayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <sys/stat.h>
#include <unistd.h>

namespace TunnelPaths {

namespace {
QString envPath(const char* name) {
    return qEnvironmentVariable(name);
}
} // namespace

QString defaultConfigFile() {
    QString base = envPath("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/vemko-vpn/tunnel.json");
}

QString defaultRuntimeDir() {
    const QString runtime = envPath("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return runtime + QStringLiteral("/vemko-vpn");
    return QDir::tempPath() + QStringLiteral("/vemko-vpn-%1").arg(getuid());
}

QString defaultHostExecutable() {
    QString fromEnv = envPath("VEMKO_TUNNEL_HOST");
    if (!fromEnv.isEmpty())
        return fromEnv;
    return InstallLayout::helperDir() + QStringLiteral("/vemko-tunnel");
}

QString engineProgram() {
    const QString fromEnv = envPath("VEMKO_V2RAY");
    return fromEnv.isEmpty() ? QStringLiteral("v2ray") : fromEnv;
}

bool ensurePrivateDir(const QString& path) {
    if (!QDir().mkpath(path))
        return false;
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    if (lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid())
        return false;
    if ((info.st_mode & 0777) != 0700 && chmod(native.constData(), 0700) != 0)
        return false;
    return true;
}

} // namespace TunnelPaths
