#include "platform/TunnelEngine.h"

#include "platform/InstallLayout.h"
#include "platform/TunnelPaths.h"

#include <QFile>

namespace TunnelEngine {

namespace {

std::string environment(const char* name) {
    return qEnvironmentVariable(name).toStdString();
}

std::string versionCache() {
    const QString cacheDir = TunnelPaths::defaultCacheDir();
    return TunnelPaths::ensurePrivateDir(cacheDir)
               ? QFile::encodeName(cacheDir + QStringLiteral("/engine-version")).toStdString()
               : std::string();
}

engine::Places places() {
    engine::Places places;
    places.override = environment("VEMKO_ENGINE");
    places.bundledDirs = {QFile::encodeName(InstallLayout::helperDir()).toStdString(), "/usr/lib/vemko-vpn"};
    places.path = environment("PATH");
    places.assetOverride = environment("XRAY_LOCATION_ASSET");
    if (places.assetOverride.empty())
        places.assetOverride = environment("V2RAY_LOCATION_ASSET");
    places.cacheFile = versionCache();
    return places;
}

} // namespace

const engine::Discovered& found() {
    static const engine::Discovered discovered = engine::discover(places());
    return discovered;
}

QString name() {
    const auto& engine = found().engine;
    return engine ? QString::fromStdString(engine->name()) : QString();
}

bool answeredBefore(const QString& binary) {
    return engine::answeredBefore(QFile::encodeName(binary).toStdString(), versionCache());
}

} // namespace TunnelEngine
