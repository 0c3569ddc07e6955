#include "engine/Server.h"
#include "engine/Shapes.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <functional>
#include <map>

namespace engine {

namespace {

using namespace std::string_view_literals;

constexpr std::size_t maxOutbounds = 16;
constexpr std::size_t maxRules = 1000;
constexpr std::string_view reservedTagPrefix = "vemko-";

struct Reader {
    Server server;
    std::optional<Refusal> refusal;

    bool refuse(Refusal why) {
        if (!refusal)
            refusal = std::move(why);
        return false;
    }
    bool need(Feature feature) {
        server.needs.insert(feature);
        return true;
    }
    std::optional<Json> cleaned(const Json& value, const Shape& shape, const std::string& path) {
        auto result = clean(value, shape, path);
        if (auto* why = std::get_if<Refusal>(&result)) {
            refuse(*why);
            return std::nullopt;
        }
        return std::get<Json>(std::move(result));
    }

    bool outbound(const Json& value, const std::string& path);
    bool stream(const Json& value, const std::string& path, Outbound& outbound);
    bool protocolNeeds(const Outbound& outbound);
    bool routing(const Json& value);
    std::optional<Json> rule(const Json& value, const std::string& path);
    // A list of domain or address matchers, each judged by `judge` (a refusal, or nothing).
    std::optional<Json> matchers(const Json& value, const std::string& path,
                                 const std::function<std::optional<Refusal>(const std::string&)>& judge);
    std::optional<Json> domains(const Json& value, const std::string& path);
    std::optional<Json> addresses(const Json& value, const std::string& path);
    void dns(const Json& value);
};

bool isText(const Json& value) {
    return value.is_string() && value.get_ref<const std::string&>().size() <= 256;
}

bool isIpLiteral(const std::string& text) {
    in6_addr address{};
    return ::inet_pton(AF_INET, text.c_str(), &address) == 1 ||
           ::inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

bool isCidr(const std::string& text) {
    const auto slash = text.find('/');
    if (slash == std::string::npos)
        return isIpLiteral(text);
    const std::string bits = text.substr(slash + 1);
    return !bits.empty() && bits.size() <= 3 && std::all_of(bits.begin(), bits.end(), ::isdigit) &&
           std::stoi(bits) <= 128 && isIpLiteral(text.substr(0, slash));
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// "tcp" for "raw", "xhttp" for "splithttp": one name per transport, whichever the entry used.
std::optional<std::string> canonicalNetwork(std::string_view name) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 13> names{{
        {"tcp", "tcp"},
        {"raw", "tcp"},
        {"kcp", "kcp"},
        {"mkcp", "kcp"},
        {"ws", "ws"},
        {"websocket", "ws"},
        {"http", "http"},
        {"h2", "http"},
        {"grpc", "grpc"},
        {"quic", "quic"},
        {"httpupgrade", "httpupgrade"},
        {"splithttp", "xhttp"},
        {"xhttp", "xhttp"},
    }};
    for (const auto& [alias, canonical] : names)
        if (alias == name)
            return std::string(canonical);
    return std::nullopt;
}

// The members that may hold a transport's settings, by canonical network.
std::vector<std::string_view> transportKeys(std::string_view network) {
    if (network == "tcp")
        return {"tcpSettings", "rawSettings"};
    if (network == "xhttp")
        return {"xhttpSettings", "splithttpSettings"};
    static const std::map<std::string_view, std::string_view> keys{
        {"kcp", "kcpSettings"},   {"ws", "wsSettings"},     {"http", "httpSettings"},
        {"grpc", "grpcSettings"}, {"quic", "quicSettings"}, {"httpupgrade", "httpupgradeSettings"}};
    return {keys.at(network)};
}

Feature featureOf(std::string_view network) {
    static const std::map<std::string_view, Feature> features{
        {"kcp", Feature::Kcp},    {"ws", Feature::WebSocket},       {"http", Feature::HttpTransport},
        {"grpc", Feature::Grpc},  {"quic", Feature::QuicTransport}, {"httpupgrade", Feature::HttpUpgrade},
        {"xhttp", Feature::Xhttp}};
    return features.at(network);
}

bool Reader::outbound(const Json& value, const std::string& path) {
    if (!value.is_object())
        return refuse(Refusal{"неверное значение в настройках сервера: " + path});
    Outbound result;
    for (const auto& item : value.items()) {
        const std::string& key = item.key();
        const std::string where = std::string(path).append(".").append(key);
        if (key == "protocol") {
            if (!isText(item.value()) || !shapes::settingsOf(item.value().get<std::string>()))
                return refuse(Refusal{"неподдерживаемый протокол: " + where});
            result.protocol = item.value().get<std::string>();
        } else if (key == "tag") {
            if (!isText(item.value()) || item.value().get_ref<const std::string&>().empty() ||
                startsWith(item.value().get_ref<const std::string&>(), reservedTagPrefix))
                return refuse(Refusal{"неверное значение в настройках сервера: " + where});
            result.tag = item.value().get<std::string>();
        } else if (key == "proxySettings") {
            return refuse(Refusal{"цепочки прокси не поддерживаются"});
        } else if (key != "settings" && key != "streamSettings" && key != "mux" && key != "sendThrough") {
            return refuse(unknownSetting(where));
        }
    }
    if (result.protocol.empty())
        return refuse(Refusal{"в настройках сервера нет " + path + ".protocol"});
    const bool proxy = shapes::isProxy(result.protocol);
    const Json settings = value.contains("settings") ? value.at("settings") : Json::object();
    if (proxy && !value.contains("settings"))
        return refuse(Refusal{"в настройках сервера нет " + path + ".settings"});
    auto cleanedSettings = cleaned(settings, *shapes::settingsOf(result.protocol), path + ".settings");
    if (!cleanedSettings)
        return false;
    result.settings = std::move(*cleanedSettings);
    result.network = "tcp";
    result.security = "none";
    if (value.contains("streamSettings") &&
        !stream(value.at("streamSettings"), path + ".streamSettings", result))
        return false;
    if (value.contains("mux")) {
        auto mux = cleaned(value.at("mux"), shapes::mux, path + ".mux");
        if (!mux)
            return false;
        result.mux = std::move(*mux);
    }
    if (proxy && !protocolNeeds(result))
        return false;
    server.outbounds.push_back(std::move(result));
    return true;
}

bool Reader::stream(const Json& value, const std::string& path, Outbound& outbound) {
    static constexpr std::array knownKeys{
        "network"sv,       "security"sv,          "tcpSettings"sv,  "rawSettings"sv,  "kcpSettings"sv,
        "wsSettings"sv,    "httpSettings"sv,      "grpcSettings"sv, "quicSettings"sv, "httpupgradeSettings"sv,
        "xhttpSettings"sv, "splithttpSettings"sv, "dsSettings"sv,   "tlsSettings"sv,  "realitySettings"sv,
        "sockopt"sv};
    if (!value.is_object())
        return refuse(Refusal{"неверное значение в настройках сервера: " + path});
    for (const auto& item : value.items()) {
        if (item.key() == "xtlsSettings")
            return refuse(Refusal{"XTLS старого образца больше не поддерживается"});
        if (std::find(knownKeys.begin(), knownKeys.end(), item.key()) == knownKeys.end())
            return refuse(unknownSetting(path + "." + item.key()));
    }
    if (value.contains("network")) {
        const Json& network = value.at("network");
        if (network.is_string() && network.get_ref<const std::string&>() == "domainsocket")
            return refuse(Refusal{"транспорт domainsocket не поддерживается"});
        const auto canonical = isText(network) ? canonicalNetwork(network.get<std::string>()) : std::nullopt;
        if (!canonical)
            return refuse(Refusal{"неподдерживаемый транспорт: " + path + ".network"});
        outbound.network = *canonical;
    }
    if (outbound.network != "tcp")
        need(featureOf(outbound.network));
    const auto keys = transportKeys(outbound.network);
    const auto given = std::count_if(keys.begin(), keys.end(), [&](auto key) { return value.contains(key); });
    if (given > 1)
        return refuse(Refusal{"настройки транспорта заданы дважды: " + path});
    for (const auto key : keys) {
        if (!value.contains(key))
            continue;
        auto transport =
            cleaned(value.at(key), *shapes::transportOf(outbound.network), path + "." + std::string(key));
        if (!transport)
            return false;
        outbound.transport = std::move(*transport);
    }

    if (value.contains("security")) {
        const Json& security = value.at("security");
        const std::string name = isText(security) ? security.get<std::string>() : "?";
        if (name == "tls" || name == "reality")
            outbound.security = name;
        else if (name != "none" && !name.empty())
            return refuse(Refusal{"неподдерживаемая защита «" + name + "»: " + path + ".security"});
    }
    if (outbound.security == "tls" && value.contains("tlsSettings")) {
        auto tls = cleaned(value.at("tlsSettings"), shapes::tls, path + ".tlsSettings");
        if (!tls)
            return false;
        for (const auto& item : tls->items()) {
            if (item.key() == "fingerprint" && !item.value().get_ref<const std::string&>().empty())
                need(Feature::Fingerprint);
            else if (!shapes::v2rayKnowsTls(item.key()))
                need(Feature::TlsOptions);
        }
        outbound.securitySettings = std::move(*tls);
    }
    if (outbound.security == "reality") {
        need(Feature::Reality);
        if (!value.contains("realitySettings"))
            return refuse(Refusal{"в настройках сервера нет " + path + ".realitySettings"});
        auto reality = cleaned(value.at("realitySettings"), shapes::reality, path + ".realitySettings");
        if (!reality)
            return false;
        if (!reality->contains("publicKey") && !reality->contains("password"))
            return refuse(Refusal{"в настройках сервера нет " + path + ".realitySettings.publicKey"});
        outbound.securitySettings = std::move(*reality);
    }
    if (value.contains("sockopt")) {
        auto sockopt = cleaned(value.at("sockopt"), shapes::sockopt, path + ".sockopt");
        if (!sockopt)
            return false;
        if (!sockopt->empty())
            outbound.sockopt = std::move(*sockopt);
    }
    return true;
}

// What the protocol's own settings ask of the engine.
bool Reader::protocolNeeds(const Outbound& outbound) {
    for (const auto& server : outbound.settings.value("vnext", Json::array()))
        for (const auto& user : server.at("users"))
            if (startsWith(user.value("flow", ""), "xtls-rprx-vision"))
                need(Feature::Vision);
    for (const auto& server : outbound.settings.value("servers", Json::array())) {
        const std::string method = server.value("method", "");
        if (startsWith(method, "2022-") || startsWith(method, "xchacha20"))
            need(Feature::Shadowsocks2022);
    }
    return true;
}

std::optional<Json> Reader::matchers(const Json& value, const std::string& path,
                                     const std::function<std::optional<Refusal>(const std::string&)>& judge) {
    if (!value.is_array() || value.size() > 20000)
        return refuse(Refusal{"неверное значение в настройках сервера: " + path}), std::nullopt;
    for (const auto& item : value) {
        if (!item.is_string())
            return refuse(Refusal{"неверное значение в настройках сервера: " + path}), std::nullopt;
        if (auto refusal = judge(item.get_ref<const std::string&>()))
            return refuse(std::move(*refusal)), std::nullopt;
    }
    return value;
}

std::optional<Json> Reader::domains(const Json& value, const std::string& path) {
    static constexpr std::array prefixes{"domain:"sv, "full:"sv, "regexp:"sv, "keyword:"sv, "dotless:"sv};
    return matchers(value, path, [&](const std::string& text) -> std::optional<Refusal> {
        if (startsWith(text, "geosite:"))
            server.geo.insert(text);
        else if (startsWith(text, "ext:"))
            return Refusal{"правила из внешних файлов не поддерживаются"};
        else if (text.find(':') != std::string::npos &&
                 std::none_of(prefixes.begin(), prefixes.end(),
                              [&](auto prefix) { return startsWith(text, prefix); }))
            return Refusal{std::string("неизвестное правило «").append(text).append("»: ").append(path)};
        return std::nullopt;
    });
}

std::optional<Json> Reader::addresses(const Json& value, const std::string& path) {
    return matchers(value, path, [&](const std::string& text) -> std::optional<Refusal> {
        if (startsWith(text, "geoip:") || startsWith(text, "!geoip:"))
            server.geo.insert(text);
        else if (startsWith(text, "ext:"))
            return Refusal{"правила из внешних файлов не поддерживаются"};
        else if (!isCidr(text))
            return Refusal{std::string("неверный адрес «").append(text).append("»: ").append(path)};
        return std::nullopt;
    });
}

// A rule read member by member. A rule that can only match what we never open (an inbound of the
// entry's own, a user of such an inbound) is left out: an empty result.
std::optional<Json> Reader::rule(const Json& value, const std::string& path) {
    static constexpr std::array sniffed{"http"sv, "tls"sv, "quic"sv, "bittorrent"sv};
    static constexpr std::array networks{"tcp"sv, "udp"sv, "tcp,udp"sv, "udp,tcp"sv};
    const auto bad = [&](const std::string& where) {
        refuse(Refusal{"неверное правило маршрутизации: " + where});
        return std::nullopt;
    };
    if (!value.is_object())
        return bad(path);
    Json result = Json::object();
    bool matchesOurs = true;
    for (const auto& item : value.items()) {
        const std::string& key = item.key();
        const Json& member = item.value();
        const std::string where = std::string(path).append(".").append(key);
        if (key == "type") {
            if (member != "field")
                return bad(where);
        } else if (key == "domain" || key == "domains") {
            auto list = domains(member, where);
            if (!list)
                return std::nullopt;
            result["domain"] = std::move(*list);
        } else if (key == "ip" || key == "source" || key == "sourceIP") {
            auto list = addresses(member, where);
            if (!list)
                return std::nullopt;
            result[key == "ip" ? "ip" : "source"] = std::move(*list);
        } else if (key == "port" || key == "sourcePort") {
            const bool number = member.is_number_integer() && member.get<long long>() >= 0 &&
                                member.get<long long>() <= 65535;
            const bool list =
                isText(member) && !member.get_ref<const std::string&>().empty() &&
                member.get_ref<const std::string&>().find_first_not_of("0123456789,-") == std::string::npos;
            if (!number && !list)
                return bad(where);
            result[key] = member;
        } else if (key == "network") {
            if (!member.is_string() ||
                std::find(networks.begin(), networks.end(), member.get<std::string>()) == networks.end())
                return bad(where);
            result[key] = member;
        } else if (key == "protocol") {
            if (!member.is_array() || std::any_of(member.begin(), member.end(), [](const Json& name) {
                    return !name.is_string() || std::find(sniffed.begin(), sniffed.end(),
                                                          name.get<std::string>()) == sniffed.end();
                }))
                return bad(where);
            result[key] = member;
        } else if (key == "outboundTag") {
            if (!isText(member))
                return bad(where);
            result[key] = member;
        } else if (key == "inboundTag" || key == "user") {
            matchesOurs = false;
        } else if (key == "balancerTag") {
            refuse(Refusal{"балансировщики не поддерживаются"});
            return std::nullopt;
        } else if (key != "ruleTag") {
            refuse(unknownSetting(where));
            return std::nullopt;
        }
    }
    if (!matchesOurs)
        return Json::object();
    if (!result.contains("outboundTag"))
        return bad(path + ".outboundTag");
    return result;
}

bool Reader::routing(const Json& value) {
    static constexpr std::array strategies{"AsIs"sv, "IPIfNonMatch"sv, "IPOnDemand"sv};
    if (!value.is_object())
        return true; // a lenient part: what we cannot read is dropped
    const Json strategy = value.value("domainStrategy", Json());
    if (strategy.is_string() &&
        std::find(strategies.begin(), strategies.end(), strategy.get<std::string>()) != strategies.end())
        server.domainStrategy = strategy.get<std::string>();
    const Json rules = value.value("rules", Json::array());
    if (!rules.is_array() || rules.size() > maxRules)
        return refuse(Refusal{"неверное значение в настройках сервера: routing.rules"});
    for (std::size_t index = 0; index < rules.size(); ++index) {
        auto read = rule(rules[index], "routing.rules[" + std::to_string(index) + "]");
        if (!read)
            return false;
        if (!read->empty())
            server.rules.push_back(std::move(*read));
    }
    return true;
}

// A resolver the engine would reach through the tunnel: an address, or DNS over HTTPS, TCP or QUIC.
// "localhost" and the "+local" forms ask the system or go around the tunnel, "fakedns" answers
// with made-up addresses: those are left out.
bool tunnelledResolver(const Json& address) {
    if (!isText(address))
        return false;
    const auto& text = address.get_ref<const std::string&>();
    if (text.find("+local") != std::string::npos)
        return false;
    return isIpLiteral(text) || startsWith(text, "https://") || startsWith(text, "tcp://") ||
           startsWith(text, "quic://") || startsWith(text, "h2c://");
}

void Reader::dns(const Json& value) {
    static constexpr std::array strategies{"UseIP"sv, "UseIPv4"sv, "UseIPv6"sv};
    if (!value.is_object())
        return;
    const Json strategy = value.value("queryStrategy", Json());
    if (strategy.is_string() &&
        std::find(strategies.begin(), strategies.end(), strategy.get<std::string>()) != strategies.end())
        server.queryStrategy = strategy.get<std::string>();
    const Json servers = value.value("servers", Json::array());
    if (!servers.is_array())
        return;
    for (const auto& entry : servers) {
        if (tunnelledResolver(entry)) {
            server.dnsServers.push_back(entry);
            continue;
        }
        if (!entry.is_object() || !tunnelledResolver(entry.value("address", Json())))
            continue;
        Json kept{{"address", entry.at("address")}};
        if (const Json port = entry.value("port", Json());
            port.is_number_integer() && port > 0 && port < 65536)
            kept["port"] = port;
        // A resolver entry we cannot read is left out; it never refuses the server.
        const auto keepRefusal = refusal;
        const auto copy = [&](const char* key, auto read) {
            if (!entry.contains(key))
                return true;
            auto list = (this->*read)(entry.at(key), std::string("dns.servers.") + key);
            if (list)
                kept[key] = std::move(*list);
            else
                refusal = keepRefusal;
            return list.has_value();
        };
        if (!copy("domains", &Reader::domains) || !copy("expectIPs", &Reader::addresses))
            continue;
        if (entry.value("skipFallback", Json()).is_boolean())
            kept["skipFallback"] = entry.at("skipFallback");
        server.dnsServers.push_back(std::move(kept));
    }
}

} // namespace

const Outbound& Server::proxy() const {
    return *std::find_if(outbounds.begin(), outbounds.end(),
                         [](const Outbound& outbound) { return shapes::isProxy(outbound.protocol); });
}

std::variant<Server, Refusal> readServer(const Json& entry) {
    if (!entry.is_object())
        return Refusal{"настройки сервера не объект JSON"};
    Reader reader;
    const Json outbounds = entry.value("outbounds", Json());
    if (!outbounds.is_array() || outbounds.empty() || outbounds.size() > maxOutbounds)
        return Refusal{"в настройках сервера нет списка outbounds"};
    for (std::size_t index = 0; index < outbounds.size(); ++index)
        if (!reader.outbound(outbounds[index], "outbounds[" + std::to_string(index) + "]"))
            return *reader.refusal;
    auto& read = reader.server.outbounds;
    if (std::none_of(read.begin(), read.end(),
                     [](const Outbound& outbound) { return shapes::isProxy(outbound.protocol); }))
        return Refusal{"в настройках нет сервера VPN"};
    std::set<std::string> tags;
    for (std::size_t index = 0; index < read.size(); ++index) {
        Outbound& outbound = read[index];
        if (outbound.tag.empty())
            outbound.tag = "out-" + std::to_string(index);
        if (!tags.insert(outbound.tag).second)
            return Refusal{"метка «" + outbound.tag + "» дана двум соединениям"};
    }
    if (entry.contains("routing") && !reader.routing(entry.at("routing")))
        return *reader.refusal;
    for (const Json& rule : reader.server.rules)
        if (!tags.contains(rule.at("outboundTag").get<std::string>()))
            return Refusal{"правило ведёт к неизвестному соединению «" +
                           rule.at("outboundTag").get<std::string>() + "»"};
    if (entry.contains("dns"))
        reader.dns(entry.at("dns"));
    if (reader.refusal)
        return *reader.refusal;
    return std::move(reader.server);
}

std::variant<Server, Refusal> readServer(std::string_view text) {
    std::string why;
    const auto value = parseBounded(text, why);
    if (!value)
        return Refusal{why};
    return readServer(*value);
}

} // namespace engine
