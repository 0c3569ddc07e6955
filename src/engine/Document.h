#pragma once

#include "engine/Engine.h"
#include "engine/Server.h"

#include <optional>
#include <string>

namespace engine {

// The local entries the engine opens, all on 127.0.0.1 and nowhere else.
struct Listeners {
    int socksPort = 10808;
    // The desktop-proxy mode: an HTTP entry beside the SOCKS one, for programs that speak only HTTP.
    std::optional<int> httpPort;
    // The system-wide mode: the redirected TCP connections and the captured DNS queries.
    struct Capture {
        int redirectPort = 0;
        int dnsPort = 0;
    };
    std::optional<Capture> capture;
};

// Tags of what we add; an entry may not use the prefix.
inline constexpr const char* socksTag = "socks";
inline constexpr const char* httpTag = "http";
inline constexpr const char* redirectTag = "vemko-redirect";
inline constexpr const char* dnsInTag = "vemko-dns-in";
inline constexpr const char* dnsOutTag = "vemko-dns-out";
inline constexpr const char* resolverTag = "vemko-resolver";

// The engine document, written fresh for `engine`: our inbounds, our log (no access log, warnings
// only), no API, no statistics, no file paths; the server's outbounds, routing and DNS in the
// engine's own spelling, the engine's own DNS queries sent through the proxy. `server` must be
// usable on `engine` (unusableReason empty).
std::string writeDocument(const Server& server, const EngineInfo& engine, const Listeners& listeners);

// The resolver the captured DNS goes to (through the tunnel): the entry's first IPv4 resolver,
// else 1.1.1.1.
std::string captureResolver(const Server& server);

} // namespace engine
