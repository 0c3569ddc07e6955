#pragma once

#include "engine/Json.h"
#include "engine/Schema.h"

#include <set>
#include <string>
#include <variant>
#include <vector>

namespace engine {

// What an entry needs beyond plain VLESS/VMess/Trojan/Shadowsocks over TCP with or without TLS.
enum class Feature {
    Reality,
    Vision,
    Fingerprint,
    TlsOptions,
    Xhttp,
    HttpUpgrade,
    HttpTransport,
    QuicTransport,
    Grpc,
    Kcp,
    WebSocket,
    Shadowsocks2022,
};

struct Outbound {
    std::string protocol;
    std::string tag;       // the entry's, or "out-<index>" for one it left unnamed
    Json settings;         // read through the protocol's shape
    std::string network;   // canonical: "tcp", "kcp", "ws", "http", "grpc", "quic", "httpupgrade", "xhttp"
    std::string security;  // "none", "tls", "reality"
    Json transport;        // the network's settings, or null
    Json securitySettings; // the security layer's settings, or null
    Json sockopt;          // or null
    Json mux;              // or null
};

// One server entry as we understand it: nothing in here was passed on unread.
struct Server {
    std::vector<Outbound> outbounds;
    std::string domainStrategy; // routing's, or empty
    Json rules = Json::array(); // routing rules, each read through the allow-list
    Json dnsServers = Json::array();
    std::string queryStrategy; // the DNS section's, or empty
    std::set<Feature> needs;
    std::set<std::string> geo; // "geoip:…" and "geosite:…" names the rules use

    // The outbound that carries traffic to the server: the first of a proxy protocol.
    const Outbound& proxy() const;
};

// Reads one entry of the configs document (or an engine document we wrote) through the
// allow-list. Top-level members other than "outbounds", "routing" and "dns" are dropped; an
// unknown member where protection is decided refuses the entry.
std::variant<Server, Refusal> readServer(const Json& entry);

// The same from JSON text, within the size and nesting bounds.
std::variant<Server, Refusal> readServer(std::string_view text);

} // namespace engine
