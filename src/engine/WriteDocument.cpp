#include "engine/Document.h"

#include <arpa/inet.h>
#include <array>

namespace engine {

namespace {

using namespace std::string_view_literals;

constexpr const char* fallbackResolver = "1.1.1.1";

// What geoip:private stands for, written out for an engine without geo data.
constexpr std::array privateRanges{"0.0.0.0/8"sv,          "10.0.0.0/8"sv,     "100.64.0.0/10"sv,
                                   "127.0.0.0/8"sv,        "169.254.0.0/16"sv, "172.16.0.0/12"sv,
                                   "192.0.0.0/24"sv,       "192.0.2.0/24"sv,   "192.88.99.0/24"sv,
                                   "192.168.0.0/16"sv,     "198.18.0.0/15"sv,  "198.51.100.0/24"sv,
                                   "203.0.113.0/24"sv,     "224.0.0.0/4"sv,    "240.0.0.0/4"sv,
                                   "255.255.255.255/32"sv, "::/128"sv,         "::1/128"sv,
                                   "fc00::/7"sv,           "fe80::/10"sv,      "ff00::/8"sv};

bool isIpv4(const std::string& text) {
    in_addr address{};
    return ::inet_pton(AF_INET, text.c_str(), &address) == 1;
}

Json socksInbound(const EngineInfo& engine, int port) {
    Json sniffed = Json::array({"http", "tls"});
    if (engine.kind == Kind::Xray)
        sniffed.push_back("quic"); // v2ray 4.34 refuses to start with it
    return Json{{"tag", socksTag},
                {"port", port},
                {"listen", "127.0.0.1"},
                {"protocol", "socks"},
                {"settings", {{"udp", true}, {"auth", "noauth"}}},
                {"sniffing", {{"enabled", true}, {"routeOnly", false}, {"destOverride", sniffed}}}};
}

std::string transportKey(const EngineInfo& engine, const std::string& network) {
    if (network == "xhttp" && engine.kind == Kind::Xray)
        return "xhttpSettings";
    return network + "Settings";
}

Json writeOutbound(const Outbound& outbound, const EngineInfo& engine, const std::string& tag) {
    Json written{{"tag", tag}, {"protocol", outbound.protocol}, {"settings", outbound.settings}};
    if (outbound.protocol == "dns")
        written.erase("settings");
    Json stream{{"network", outbound.network}, {"security", outbound.security}};
    if (!outbound.transport.is_null())
        stream[transportKey(engine, outbound.network)] = outbound.transport;
    if (!outbound.securitySettings.is_null())
        stream[outbound.security + "Settings"] = outbound.securitySettings;
    if (!outbound.sockopt.is_null())
        stream["sockopt"] = outbound.sockopt;
    written["streamSettings"] = std::move(stream);
    if (!outbound.mux.is_null()) {
        Json mux = outbound.mux;
        if (engine.kind == Kind::V2Ray) {
            mux.erase("xudpConcurrency");
            mux.erase("xudpProxyUDP443");
        }
        written["mux"] = std::move(mux);
    }
    return written;
}

Json writeAddresses(const Json& list, const EngineInfo& engine) {
    if (engine.geoip)
        return list;
    Json written = Json::array();
    for (const Json& item : list) {
        if (item == "geoip:private")
            for (const auto range : privateRanges)
                written.push_back(range);
        else
            written.push_back(item);
    }
    return written;
}

} // namespace

std::string captureResolver(const Server& server) {
    for (const Json& entry : server.dnsServers) {
        const Json address = entry.is_object() ? entry.at("address") : entry;
        if (address.is_string() && isIpv4(address.get<std::string>()))
            return address.get<std::string>();
    }
    return fallbackResolver;
}

std::string writeDocument(const Server& server, const EngineInfo& engine, const Listeners& listeners) {
    Json inbounds = Json::array({socksInbound(engine, listeners.socksPort)});
    if (listeners.httpPort)
        inbounds.push_back(
            {{"tag", httpTag}, {"port", *listeners.httpPort}, {"listen", "127.0.0.1"}, {"protocol", "http"}});
    Json outbounds = Json::array();
    std::string proxyTag;
    for (const Outbound& outbound : server.outbounds) {
        if (&outbound == &server.proxy())
            proxyTag = outbound.tag;
        outbounds.push_back(writeOutbound(outbound, engine, outbound.tag));
    }
    // The engine's own DNS queries (routing by IP, "UseIP") leave through the proxy, never around it.
    Json rules = Json::array({{{"type", "field"}, {"inboundTag", {resolverTag}}, {"outboundTag", proxyTag}}});
    if (listeners.capture) {
        const std::string resolver = captureResolver(server);
        inbounds.push_back({{"tag", redirectTag},
                            {"listen", "127.0.0.1"},
                            {"port", listeners.capture->redirectPort},
                            {"protocol", "dokodemo-door"},
                            {"settings", {{"network", "tcp"}, {"followRedirect", true}}},
                            {"sniffing", {{"enabled", true}, {"destOverride", {"http", "tls"}}}},
                            {"streamSettings", {{"sockopt", {{"tproxy", "redirect"}}}}}});
        inbounds.push_back({{"tag", dnsInTag},
                            {"listen", "127.0.0.1"},
                            {"port", listeners.capture->dnsPort},
                            {"protocol", "dokodemo-door"},
                            {"settings", {{"address", resolver}, {"port", 53}, {"network", "tcp,udp"}}}});
        outbounds.push_back({{"tag", dnsOutTag},
                             {"protocol", "dns"},
                             {"settings", {{"address", resolver}, {"port", 53}}},
                             {"proxySettings", {{"tag", proxyTag}}}});
        rules.push_back({{"type", "field"}, {"inboundTag", {dnsInTag}}, {"outboundTag", dnsOutTag}});
    }
    for (const Json& rule : server.rules) {
        Json written = rule;
        for (const char* key : {"ip", "source"})
            if (written.contains(key))
                written[key] = writeAddresses(written[key], engine);
        written["type"] = "field";
        rules.push_back(std::move(written));
    }
    Json routing{{"rules", std::move(rules)}};
    if (!server.domainStrategy.empty())
        routing["domainStrategy"] = server.domainStrategy;

    Json dns{{"servers", server.dnsServers.empty() ? Json::array({fallbackResolver}) : server.dnsServers},
             {"tag", resolverTag}};
    if (!server.queryStrategy.empty())
        dns["queryStrategy"] = server.queryStrategy;
    for (Json& entry : dns["servers"])
        if (entry.is_object() && entry.contains("expectIPs"))
            entry["expectIPs"] = writeAddresses(entry["expectIPs"], engine);

    const Json document{{"log", {{"access", "none"}, {"loglevel", "warning"}}},
                        {"inbounds", std::move(inbounds)},
                        {"outbounds", std::move(outbounds)},
                        {"routing", std::move(routing)},
                        {"dns", std::move(dns)}};
    return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace engine
