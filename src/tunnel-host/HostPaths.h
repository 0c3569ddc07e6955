#pragma once

#include <string>

// Where the host's pieces live. The app (TunnelPaths, HostFiles) computes the same places from the
// same environment and reads the same files, so the two must agree name for name.
namespace HostPaths {

// $XDG_RUNTIME_DIR/vemko-vpn, or $XDG_STATE_HOME/vemko-vpn/run (~/.local/state) without it: never
// a name in a shared temporary folder, which another user could make first.
std::string defaultRuntimeDir();
// $XDG_CONFIG_HOME/vemko-vpn/tunnel.json (~/.config without XDG_CONFIG_HOME).
std::string defaultConfigFile();
// $XDG_CACHE_HOME/vemko-vpn (~/.cache without it): the engine's private copy, its version answers.
std::string defaultCacheDir();

std::string statusFile(const std::string& runtimeDir);
std::string pidFile(const std::string& runtimeDir);
std::string lockFile(const std::string& runtimeDir);
std::string logFile(const std::string& runtimeDir);

// This program's file, and the folder it is in (where an AppDir keeps its bundled Xray).
std::string selfExecutable();
std::string selfDir();

} // namespace HostPaths
