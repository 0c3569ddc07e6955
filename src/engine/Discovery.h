#pragma once

#include "engine/Engine.h"

#include <optional>
#include <string>
#include <vector>

namespace engine {

// Where the engine is looked for, first found wins: `override` (VEMKO_ENGINE, for developers and
// tests), "xray" in each of `bundledDirs` (the AppDir's bin/, the package's /usr/lib/vemko-vpn),
// /usr/local/bin/xray (Xray's own installer), "xray" on PATH, then "v2ray" on PATH.
struct Places {
    std::string override;
    std::vector<std::string> bundledDirs;
    std::string path;          // the PATH to search
    std::string assetOverride; // XRAY_LOCATION_ASSET / V2RAY_LOCATION_ASSET as set
    std::string cacheFile;     // remembers version answers by the binary's size and time; empty: none
};

struct Discovered {
    std::optional<EngineInfo> engine;
    std::string problem; // without an engine: why (Russian)
};

Discovered discover(const Places& places);

// The root helper's engine: only a root-owned file in root-owned folders nobody else may write,
// from a fixed list; never a user's path or variable.
Discovered discoverForRoot(const std::vector<std::string>& candidates);

// The engine's answer to its version command (its first line), run with a closed input and a
// deadline; empty when it gives none.
std::string versionLine(const std::string& binary);

// True when this very file (same path, size, time and inode) answered its version command before:
// it runs, and asking it again would only cost a process start.
bool answeredBefore(const std::string& binary, const std::string& cacheFile);

} // namespace engine
