#pragma once

#include <QString>

// Where the tunnel's pieces live on this machine. The app and vemko-tunnel compute the same
// places from the same environment, so the host can be started with nothing but its document.
namespace TunnelPaths {

// $XDG_CONFIG_HOME/vemko-vpn/tunnel.json (~/.config when XDG_CONFIG_HOME is unset).
QString defaultConfigFile();

// $XDG_RUNTIME_DIR/vemko-vpn, or $XDG_STATE_HOME/vemko-vpn/run (~/.local/state) without it.
QString defaultRuntimeDir();

// $XDG_CACHE_HOME/vemko-vpn (~/.cache when XDG_CACHE_HOME is unset): the engine's private copy.
QString defaultCacheDir();

// $VEMKO_TUNNEL_HOST, else vemko-tunnel among the app's helpers (InstallLayout::helperDir()).
QString defaultHostExecutable();

// $VEMKO_ENGINE, else the engine discovery found (TunnelEngine), else "v2ray".
QString engineProgram();

// Creates the folder (and its parents) and makes it private (0700). Refuses a folder that is
// a symlink or belongs to another user: the runtime folder may sit in a shared temp dir.
// Returns false when the folder cannot be made private.
bool ensurePrivateDir(const QString& path);
// The engine document inside the saved tunnel configuration (its provider configuration's
// "config"); empty when the file is missing, unreadable, over 32 MB or holds none.
QByteArray savedEngineDocument(const QString& configFile);

} // namespace TunnelPaths
