#include "platform/TunnelPaths.h"

#include "os/PrivateDir.h"
#include "platform/InstallLayout.h"
#include "platform/OwnFile.h"
#include "platform/TunnelEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

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

QString defaultCacheDir() {
    QString base = envPath("XDG_CACHE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/vemko-vpn");
}

QString defaultRuntimeDir() {
    const QString runtime = envPath("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime))
        return runtime + QStringLiteral("/vemko-vpn");
    // Never a name in a shared temporary folder, which another user could make first: the user's
    // own state folder, made private by ensurePrivateDir.
    QString state = envPath("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/vemko-vpn/run");
}

QString defaultHostExecutable() {
    QString fromEnv = envPath("VEMKO_TUNNEL_HOST");
    if (!fromEnv.isEmpty())
        return fromEnv;
    return InstallLayout::helperDir() + QStringLiteral("/vemko-tunnel");
}

QString engineProgram() {
    const QString fromEnv = envPath("VEMKO_ENGINE");
    if (!fromEnv.isEmpty())
        return fromEnv;
    const auto& found = TunnelEngine::found().engine;
    return found ? QFile::decodeName(QByteArray::fromStdString(found->path)) : QStringLiteral("v2ray");
}

bool ensurePrivateDir(const QString& path) {
    return os::ensurePrivateDir(QFile::encodeName(path).toStdString());
}

QByteArray savedEngineDocument(const QString& configFile) {
    if (configFile.isEmpty())
        return {};
    const QJsonObject saved =
        QJsonDocument::fromJson(OwnFile::read(configFile, qint64{32} << 20).value_or(QByteArray())).object();
    return saved.value("protocolConfiguration")
        .toObject()
        .value("providerConfiguration")
        .toObject()
        .value("config")
        .toString()
        .toUtf8();
}

} // namespace TunnelPaths
