#include "platform/TunnelEngine.h"

#include "platform/InstallLayout.h"
#include "platform/TunnelPaths.h"

#include <QFile>

namespace TunnelEngine {

namespace {

std::string environment(const char* name) {
    return qEnvironmentVariable(name).toStdString();
}

engine::Places places() {
    engine::Places places;
    places.override = environment("VEMKO_ENGINE");
    places.bundledDirs = {QFile::encodeName(InstallLayout::helperDir()).toStdString(), "/usr/lib/vemko-vpn"};
    places.path = environment("PATH");
    places.assetOverride = environment("XRAY_LOCATION_ASSET");
    if (places.assetOverride.empty())
        places.assetOverride = environment("V2RAY_LOCATION_ASSET");
    const QString cacheDir = TunnelPaths::defaultCacheDir();
    if (TunnelPaths::ensurePrivateDir(cacheDir))
        places.cacheFile = QFile::encodeName(cacheDir + QStringLiteral("/engine-version")).toStdString();
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

} // namespace TunnelEngine
