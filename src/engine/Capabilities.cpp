#include "engine/Engine.h"

#include <array>
#include <charconv>

namespace engine {

namespace {

// Which engine runs what, from which version and until which: the one table to extend when an
// engine gains or drops a feature.
struct Capability {
    Feature feature;
    Kind kind;
    Version since;
    std::optional<Version> until = std::nullopt; // first version without it
};

constexpr std::array capabilities{
    Capability{Feature::Reality, Kind::Xray, {1, 8, 0}},
    Capability{Feature::Vision, Kind::Xray, {1, 8, 0}},
    Capability{Feature::Fingerprint, Kind::Xray, {1, 8, 0}},
    Capability{Feature::TlsOptions, Kind::Xray, {1, 8, 0}},
    Capability{Feature::Xhttp, Kind::Xray, {24, 9, 30}},
    Capability{Feature::HttpUpgrade, Kind::Xray, {1, 8, 9}},
    Capability{Feature::HttpTransport, Kind::Xray, {1, 0, 0}, Version{25, 1, 1}},
    Capability{Feature::HttpTransport, Kind::V2Ray, {4, 0, 0}},
    Capability{Feature::QuicTransport, Kind::Xray, {1, 0, 0}, Version{24, 9, 30}},
    Capability{Feature::QuicTransport, Kind::V2Ray, {4, 0, 0}},
    Capability{Feature::Grpc, Kind::Xray, {1, 3, 0}},
    Capability{Feature::Grpc, Kind::V2Ray, {4, 36, 0}},
    Capability{Feature::Kcp, Kind::Xray, {1, 0, 0}},
    Capability{Feature::Kcp, Kind::V2Ray, {4, 0, 0}},
    Capability{Feature::WebSocket, Kind::Xray, {1, 0, 0}},
    Capability{Feature::WebSocket, Kind::V2Ray, {4, 0, 0}},
    Capability{Feature::Shadowsocks2022, Kind::Xray, {1, 8, 0}},
};

std::string label(Feature feature) {
    switch (feature) {
    case Feature::Reality:
        return "REALITY";
    case Feature::Vision:
        return "XTLS Vision";
    case Feature::Fingerprint:
        return "отпечаток TLS";
    case Feature::TlsOptions:
        return "настройки TLS";
    case Feature::Xhttp:
        return "xhttp";
    case Feature::HttpUpgrade:
        return "httpupgrade";
    case Feature::HttpTransport:
        return "транспорт http";
    case Feature::QuicTransport:
        return "транспорт quic";
    case Feature::Grpc:
        return "gRPC";
    case Feature::Kcp:
        return "mKCP";
    case Feature::WebSocket:
        return "WebSocket";
    case Feature::Shadowsocks2022:
        return "Shadowsocks 2022";
    }
    return "?";
}

const char* kindName(Kind kind) {
    return kind == Kind::Xray ? "Xray" : "V2Ray";
}

std::optional<std::string> missing(Feature feature, const EngineInfo& engine) {
    bool anyEngine = false;
    for (const Capability& capability : capabilities) {
        if (capability.feature != feature)
            continue;
        anyEngine = true;
        if (capability.kind != engine.kind)
            continue;
        if (engine.version < capability.since)
            return "нужен " + std::string(kindName(engine.kind)) + " " + capability.since.text() +
                   " или новее: " + label(feature);
        if (capability.until && engine.version >= *capability.until)
            return std::string(kindName(engine.kind)) + " " + engine.version.text() + " не поддерживает " +
                   label(feature);
        return std::nullopt;
    }
    // Not this engine's at all: name the one that has it.
    for (const Capability& capability : capabilities)
        if (capability.feature == feature && !capability.until)
            return "нужен " + std::string(kindName(capability.kind)) + ": " + label(feature);
    return anyEngine ? std::optional<std::string>("не поддерживается: " + label(feature)) : std::nullopt;
}

std::optional<Version> parseVersion(std::string_view text) {
    Version version;
    int* parts[] = {&version.major, &version.minor, &version.patch};
    const char* at = text.data();
    const char* end = text.data() + text.size();
    for (int index = 0; index < 3; ++index) {
        const auto [next, error] = std::from_chars(at, end, *parts[index]);
        if (error != std::errc())
            return index == 0 ? std::nullopt : std::optional<Version>(version);
        at = next;
        if (at == end || *at != '.')
            return version;
        ++at;
    }
    return version;
}

} // namespace

std::string Version::text() const {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

std::string EngineInfo::name() const {
    return std::string(kindName(kind)) + " " + version.text();
}

std::vector<std::string> EngineInfo::runArguments() const {
    if (kind == Kind::Xray)
        return {"run", "-config", "stdin:"};
    return {"-config", "stdin:"};
}

std::vector<std::string> EngineInfo::testArguments() const {
    if (kind == Kind::Xray)
        return {"run", "-test", "-config", "stdin:"};
    return {"-test", "-config", "stdin:"};
}

const char* EngineInfo::assetVariable() const {
    return kind == Kind::Xray ? "XRAY_LOCATION_ASSET" : "V2RAY_LOCATION_ASSET";
}

std::optional<EngineInfo> identify(std::string_view firstLine) {
    EngineInfo engine;
    std::string_view rest;
    if (firstLine.substr(0, 5) == "Xray ") {
        engine.kind = Kind::Xray;
        rest = firstLine.substr(5);
    } else if (firstLine.substr(0, 6) == "V2Ray ") {
        engine.kind = Kind::V2Ray;
        rest = firstLine.substr(6);
    } else {
        return std::nullopt;
    }
    if (!rest.empty() && rest.front() == 'v')
        rest.remove_prefix(1);
    const auto version = parseVersion(rest.substr(0, rest.find(' ')));
    if (!version || (engine.kind == Kind::V2Ray && version->major != 4))
        return std::nullopt;
    engine.version = *version;
    return engine;
}

std::optional<std::string> unusableReason(const Server& server, const EngineInfo& engine) {
    for (const Feature feature : server.needs)
        if (auto why = missing(feature, engine))
            return why;
    for (const std::string& name : server.geo) {
        const bool site = name.rfind("geosite:", 0) == 0;
        if (name == "geoip:private" || (site ? engine.geosite : engine.geoip))
            continue; // the private ranges are written out when there is no data
        return "нет геоданных для " + name;
    }
    return std::nullopt;
}

} // namespace engine
