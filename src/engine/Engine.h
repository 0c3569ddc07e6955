#pragma once

#include "engine/Server.h"

#include <compare>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

enum class Kind { Xray, V2Ray };

struct Version {
    int major = 0;
    int minor = 0;
    int patch = 0;
    auto operator<=>(const Version&) const = default; // NOLINT(modernize-use-nullptr): clang-tidy 14 misreads <=>
    std::string text() const;
};

// The engine that runs the tunnel on this machine, as discovery found it.
struct EngineInfo {
    Kind kind = Kind::V2Ray;
    Version version;
    std::string path;     // the binary
    std::string assetDir; // where its geoip.dat and geosite.dat are looked for; empty: none
    bool geoip = false;   // geoip.dat is there
    bool geosite = false; // geosite.dat is there

    std::string name() const; // "Xray 25.12.8"
    // The arguments that make it read its document from standard input, and check one.
    std::vector<std::string> runArguments() const;
    std::vector<std::string> testArguments() const;
    // The environment variable that names the folder of its data files.
    const char* assetVariable() const;
};

// "Xray 25.12.8 (Xray, Penetrates Everything.) …" or "V2Ray 4.34.0 (V2Fly, …) …": the kind and
// version; empty for anything else (V2Ray 5 reads another document format).
std::optional<EngineInfo> identify(std::string_view firstLine);

// Why `server` cannot run on `engine` ("нужен Xray: REALITY"); empty when it can.
std::optional<std::string> unusableReason(const Server& server, const EngineInfo& engine);

} // namespace engine
