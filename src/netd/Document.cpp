#include "netd/Document.h"

#include <arpa/inet.h>
#include <nlohmann/json.hpp>
#include <optional>

namespace netd {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* fallbackResolver = "1.1.1.1";
constexpr const char* redirectTag = "vemko-redirect";
constexpr const char* dnsInTag = "vemko-dns";
constexpr const char* dnsOutTag = "vemko-dns-out";
constexpr const char* proxyFallbackTag = "vemko-proxy";

bool isIpv4(const std::string& text) {
    in_addr address{};
    return ::inet_pton(AF_INET, text.c_str(), &address) == 1;
}

// Captured DNS goes to the document's first plain IPv4 resolver, through the tunnel.
std::string resolverOf(const Json& document) {
    const auto dns = document.find("dns");
    if (dns == document.end() || !dns->is_object())
        return fallbackResolver;
    const auto servers = dns->find("servers");
    if (servers == dns->end() || !servers->is_array())
        return fallbackResolver;
    for (const Json& server : *servers) {
        if (server.is_string() && isIpv4(server.get<std::string>()))
            return server.get<std::string>();
        if (server.is_object() && server.contains("address") && server["address"].is_string() &&
            isIpv4(server["address"].get<std::string>()))
            return server["address"].get<std::string>();
    }
    return fallbackResolver;
}

std::optional<Refusal> checkInbounds(const Json& inbounds) {
    if (!inbounds.is_array())
        return Refusal{"\"inbounds\" is not a list"};
    for (const Json& inbound : inbounds) {
        if (!inbound.is_object())
            return Refusal{"an inbound is not an object"};
        const auto listen = inbound.find("listen");
        if (listen == inbound.end() || !listen->is_string() || listen->get<std::string>() != "127.0.0.1")
            return Refusal{"an inbound listens beyond 127.0.0.1"};
        const auto port = inbound.find("port");
        if (port != inbound.end() && port->is_number_integer() &&
            (port->get<int>() == redirectPort || port->get<int>() == dnsPort))
            return Refusal{"an inbound takes a port of the helper"};
    }
    return std::nullopt;
}

} // namespace

std::variant<std::string, Refusal> engineDocument(const std::string& callerDocument) {
    if (callerDocument.size() > maxDocumentBytes)
        return Refusal{"document too large"};
    Json document = Json::parse(callerDocument, nullptr, false);
    if (document.is_discarded() || !document.is_object())
        return Refusal{"document is not a JSON object"};
    if (const auto refusal = checkInbounds(document.value("inbounds", Json::array())))
        return *refusal;
    Json& outbounds = document["outbounds"];
    if (!outbounds.is_array() || outbounds.empty() || !outbounds[0].is_object())
        return Refusal{"document has no outbound"};
    Json& proxy = outbounds[0];
    if (!proxy.contains("tag") || !proxy["tag"].is_string())
        proxy["tag"] = proxyFallbackTag;
    const std::string proxyTag = proxy["tag"].get<std::string>();
    const std::string resolver = resolverOf(document);

    Json& inbounds = document["inbounds"];
    if (!inbounds.is_array())
        inbounds = Json::array();
    inbounds.push_back({{"tag", redirectTag},
                        {"listen", "127.0.0.1"},
                        {"port", redirectPort},
                        {"protocol", "dokodemo-door"},
                        {"settings", {{"network", "tcp"}, {"followRedirect", true}}},
                        {"sniffing", {{"enabled", true}, {"destOverride", {"http", "tls"}}}},
                        {"streamSettings", {{"sockopt", {{"tproxy", "redirect"}}}}}});
    inbounds.push_back({{"tag", dnsInTag},
                        {"listen", "127.0.0.1"},
                        {"port", dnsPort},
                        {"protocol", "dokodemo-door"},
                        {"settings", {{"address", resolver}, {"port", 53}, {"network", "tcp,udp"}}}});
    outbounds.push_back({{"tag", dnsOutTag},
                         {"protocol", "dns"},
                         {"settings", {{"address", resolver}, {"port", 53}}},
                         {"proxySettings", {{"tag", proxyTag}}}});

    Json& routing = document["routing"];
    if (!routing.is_object())
        routing = Json::object();
    Json& rules = routing["rules"];
    if (!rules.is_array())
        rules = Json::array();
    rules.insert(rules.begin(),
                 Json{{"type", "field"}, {"inboundTag", {dnsInTag}}, {"outboundTag", dnsOutTag}});

    // The engine writes no file of the caller's choosing and opens no control API.
    document["log"] = {{"loglevel", "warning"}};
    document.erase("api");
    return document.dump();
}

} // namespace netd
