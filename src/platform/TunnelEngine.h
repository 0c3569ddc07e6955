#pragma once

#include "engine/Discovery.h"

#include <QString>

// The engine this user's tunnel runs, found once per process: VEMKO_ENGINE, an Xray beside the
// app (the AppDir's bin/, the package's /usr/lib/vemko-vpn), /usr/local/bin/xray, xray on PATH,
// then v2ray on PATH. Version answers are remembered in the user's cache folder.
namespace TunnelEngine {

const engine::Discovered& found();

// "Xray 25.12.8", or empty without an engine.
QString name();

// This very engine file answered its version command before, in this process or an earlier one.
bool answeredBefore(const QString& binary);

} // namespace TunnelEngine
