#include "engine/Shapes.h"

#include <array>

namespace engine::shapes {

namespace {

using namespace std::string_view_literals;

constexpr Member text(std::string_view key) {
    return {key, Type::String};
}
constexpr Member flag(std::string_view key) {
    return {key, Type::Bool};
}
constexpr Member whole(std::string_view key) {
    return {key, Type::Integer};
}
constexpr Member range(std::string_view key) {
    return {key, Type::IntOrString};
}
constexpr Member list(std::string_view key) {
    return {key, Type::StringList};
}
constexpr Member headers(std::string_view key) {
    return {key, Type::Headers};
}
constexpr Member textMap(std::string_view key) {
    return {key, Type::StringMap};
}
constexpr Member dropped(std::string_view key) {
    return {key, Type::Dropped};
}
constexpr Member refused(std::string_view key, std::string_view why) {
    return {key, Type::Refused, nullptr, {}, why};
}
constexpr Member choice(std::string_view key, std::span<const std::string_view> values) {
    return {key, Type::String, nullptr, values};
}
constexpr Member object(std::string_view key, const Shape& shape) {
    return {key, Type::Object, &shape};
}
constexpr Member objects(std::string_view key, const Shape& shape) {
    return {key, Type::ObjectList, &shape};
}
constexpr Member required(Member member) {
    member.required = true;
    return member;
}
constexpr Member address{"address", Type::Host, nullptr, {}, {}, true};
constexpr Member port{"port", Type::Port, nullptr, {}, {}, true};

// --- the protocols ---------------------------------------------------------------------------

constexpr std::array vlessFlows{""sv, "xtls-rprx-vision"sv, "xtls-rprx-vision-udp443"sv};
constexpr std::array vlessEncryptions{"none"sv};
constexpr std::array vlessUserMembers{required(text("id")), choice("encryption", vlessEncryptions),
                                      choice("flow", vlessFlows), whole("level"), text("email")};
constexpr Shape vlessUser{vlessUserMembers};

constexpr std::array vmessCiphers{"auto"sv, "aes-128-gcm"sv, "chacha20-poly1305"sv, "none"sv, "zero"sv};
constexpr std::array vmessUserMembers{
    required(text("id")), whole("alterId"), choice("security", vmessCiphers),
    whole("level"),       text("email"),    dropped("experiments")};
constexpr Shape vmessUser{vmessUserMembers};

constexpr std::array vlessServerMembers{address, port, required(objects("users", vlessUser))};
constexpr Shape vlessServer{vlessServerMembers};
constexpr std::array vmessServerMembers{address, port, required(objects("users", vmessUser))};
constexpr Shape vmessServer{vmessServerMembers};

constexpr std::array vlessMembers{required(objects("vnext", vlessServer))};
constexpr std::array vmessMembers{required(objects("vnext", vmessServer))};

constexpr std::array trojanServerMembers{
    address,       port,           required(text("password")),
    text("email"), whole("level"), refused("flow", "Trojan с flow больше не поддерживается")};
constexpr Shape trojanServer{trojanServerMembers};
constexpr std::array trojanMembers{required(objects("servers", trojanServer))};

constexpr std::array shadowsocksMethods{"aes-128-gcm"sv,
                                        "aes-256-gcm"sv,
                                        "chacha20-poly1305"sv,
                                        "chacha20-ietf-poly1305"sv,
                                        "xchacha20-poly1305"sv,
                                        "xchacha20-ietf-poly1305"sv,
                                        "2022-blake3-aes-128-gcm"sv,
                                        "2022-blake3-aes-256-gcm"sv,
                                        "2022-blake3-chacha20-poly1305"sv,
                                        "none"sv,
                                        "plain"sv};
constexpr std::array shadowsocksServerMembers{address,
                                              port,
                                              required(choice("method", shadowsocksMethods)),
                                              required(text("password")),
                                              text("email"),
                                              whole("level"),
                                              flag("uot"),
                                              whole("UoTVersion"),
                                              dropped("ivCheck")};
constexpr Shape shadowsocksServer{shadowsocksServerMembers};
constexpr std::array shadowsocksMembers{required(objects("servers", shadowsocksServer))};

constexpr std::array domainStrategies{"AsIs"sv,      "UseIP"sv,   "UseIPv4"sv,   "UseIPv6"sv,  "UseIPv4v6"sv,
                                      "UseIPv6v4"sv, "ForceIP"sv, "ForceIPv4"sv, "ForceIPv6"sv};
constexpr std::array freedomMembers{choice("domainStrategy", domainStrategies)};
constexpr std::array blackholeResponses{"none"sv, "http"sv};
constexpr std::array blackholeResponseMembers{choice("type", blackholeResponses)};
constexpr Shape blackholeResponse{blackholeResponseMembers, false};
constexpr std::array blackholeMembers{object("response", blackholeResponse)};
constexpr std::array<Member, 0> dnsMembers{};

constexpr Shape vless{vlessMembers};
constexpr Shape vmess{vmessMembers};
constexpr Shape trojan{trojanMembers};
constexpr Shape shadowsocks{shadowsocksMembers};
constexpr Shape freedom{freedomMembers, false};
constexpr Shape blackhole{blackholeMembers, false};
constexpr Shape dns{dnsMembers, false};

// --- the transports --------------------------------------------------------------------------

constexpr std::array headerTypes{"none"sv, "http"sv};
constexpr std::array httpRequestMembers{text("version"), text("method"), list("path"), headers("headers")};
constexpr Shape httpRequest{httpRequestMembers};
constexpr std::array httpResponseMembers{text("version"), text("status"), text("reason"), headers("headers")};
constexpr Shape httpResponse{httpResponseMembers};
constexpr std::array rawHeaderMembers{choice("type", headerTypes), object("request", httpRequest),
                                      object("response", httpResponse)};
constexpr Shape rawHeader{rawHeaderMembers};
constexpr std::array rawMembers{object("header", rawHeader), dropped("acceptProxyProtocol")};

constexpr std::array packetHeaders{"none"sv, "srtp"sv,      "utp"sv, "wechat-video"sv,
                                   "dtls"sv, "wireguard"sv, "dns"sv};
constexpr std::array packetHeaderMembers{choice("type", packetHeaders), text("domain")};
constexpr Shape packetHeader{packetHeaderMembers};
constexpr std::array kcpMembers{whole("mtu"),
                                whole("tti"),
                                whole("uplinkCapacity"),
                                whole("downlinkCapacity"),
                                flag("congestion"),
                                whole("readBufferSize"),
                                whole("writeBufferSize"),
                                object("header", packetHeader),
                                text("seed")};
constexpr std::array wsMembers{text("path"),
                               text("host"),
                               textMap("headers"),
                               whole("heartbeatPeriod"),
                               whole("maxEarlyData"),
                               text("earlyDataHeaderName"),
                               dropped("acceptProxyProtocol")};
constexpr std::array httpMembers{list("host"),
                                 text("path"),
                                 text("method"),
                                 headers("headers"),
                                 whole("read_idle_timeout"),
                                 whole("health_check_timeout")};
constexpr std::array grpcMembers{text("serviceName"),
                                 text("authority"),
                                 flag("multiMode"),
                                 whole("idle_timeout"),
                                 whole("health_check_timeout"),
                                 flag("permit_without_stream"),
                                 whole("initial_windows_size"),
                                 text("user_agent")};
constexpr std::array quicCiphers{"none"sv, "aes-128-gcm"sv, "chacha20-poly1305"sv};
constexpr std::array quicMembers{choice("security", quicCiphers), text("key"),
                                 object("header", packetHeader)};
constexpr std::array upgradeMembers{text("path"), text("host"), textMap("headers"),
                                    dropped("acceptProxyProtocol")};

constexpr std::array xmuxMembers{range("maxConcurrency"),   range("maxConnections"),
                                 range("cMaxReuseTimes"),   range("hMaxRequestTimes"),
                                 range("hMaxReusableSecs"), whole("hKeepAlivePeriod")};
constexpr Shape xmux{xmuxMembers};
constexpr std::array xhttpExtraMembers{
    textMap("headers"),          range("xPaddingBytes"),
    flag("noGRPCHeader"),        flag("noSSEHeader"),
    range("scMaxEachPostBytes"), range("scMinPostsIntervalMs"),
    whole("scMaxBufferedPosts"), range("scStreamUpServerSecs"),
    object("xmux", xmux),        refused("downloadSettings", "раздельная загрузка xhttp не поддерживается")};
constexpr Shape xhttpExtra{xhttpExtraMembers};
constexpr std::array xhttpModes{"auto"sv, "packet-up"sv, "stream-up"sv, "stream-one"sv};
constexpr std::array xhttpMembers{text("host"),
                                  text("path"),
                                  choice("mode", xhttpModes),
                                  textMap("headers"),
                                  object("extra", xhttpExtra),
                                  range("xPaddingBytes"),
                                  flag("noGRPCHeader"),
                                  flag("noSSEHeader"),
                                  range("scMaxEachPostBytes"),
                                  range("scMinPostsIntervalMs"),
                                  whole("scMaxBufferedPosts"),
                                  range("scStreamUpServerSecs"),
                                  object("xmux", xmux),
                                  refused("downloadSettings", "раздельная загрузка xhttp не поддерживается")};

constexpr Shape raw{rawMembers};
constexpr Shape kcp{kcpMembers};
constexpr Shape ws{wsMembers};
constexpr Shape http{httpMembers};
constexpr Shape grpc{grpcMembers};
constexpr Shape quic{quicMembers};
constexpr Shape upgrade{upgradeMembers};
constexpr Shape xhttp{xhttpMembers};

// --- security --------------------------------------------------------------------------------

constexpr std::array fingerprints{
    "chrome"sv, "firefox"sv, "safari"sv, "ios"sv,        "android"sv,          "edge"sv,
    "360"sv,    "qq"sv,      "random"sv, "randomized"sv, "randomizednoalpn"sv, "unsafe"sv};
constexpr std::array tlsVersions{"1.0"sv, "1.1"sv, "1.2"sv, "1.3"sv};
constexpr std::array tlsMembers{
    text("serverName"),
    flag("allowInsecure"),
    list("alpn"),
    flag("disableSystemRoot"),
    flag("enableSessionResumption"),
    list("pinnedPeerCertificateChainSha256"),
    choice("fingerprint", fingerprints),
    choice("minVersion", tlsVersions),
    choice("maxVersion", tlsVersions),
    text("cipherSuites"),
    text("echConfigList"),
    list("verifyPeerCertInNames"),
    refused("certificates", "сертификаты из файлов не поддерживаются"),
    refused("masterKeyLog", "запись ключей TLS в файл не допускается"),
};
constexpr std::array realityMembers{text("serverName"),    choice("fingerprint", fingerprints),
                                    text("publicKey"),     text("password"),
                                    text("shortId"),       text("spiderX"),
                                    text("mldsa65Verify"), dropped("show")};

constexpr std::array sockoptMembers{flag("tcpFastOpen"), whole("tcpKeepAliveInterval"),
                                    whole("tcpKeepAliveIdle"), flag("tcpNoDelay"),
                                    refused("dialerProxy", "цепочки прокси не поддерживаются")};
constexpr std::array muxMembers{flag("enabled"), whole("concurrency"), whole("xudpConcurrency"),
                                text("xudpProxyUDP443")};

} // namespace

const Shape tls{tlsMembers};
const Shape reality{realityMembers};
const Shape sockopt{sockoptMembers, false};
const Shape mux{muxMembers, false};

namespace {

template <std::size_t size>
const Shape* byName(const std::array<std::pair<std::string_view, const Shape*>, size>& table,
                    std::string_view name) {
    for (const auto& [known, shape] : table)
        if (known == name)
            return shape;
    return nullptr;
}

} // namespace

const Shape* settingsOf(std::string_view protocol) {
    static constexpr std::array<std::pair<std::string_view, const Shape*>, 7> protocols{{
        {"vless", &vless},
        {"vmess", &vmess},
        {"trojan", &trojan},
        {"shadowsocks", &shadowsocks},
        {"freedom", &freedom},
        {"blackhole", &blackhole},
        {"dns", &dns},
    }};
    return byName(protocols, protocol);
}

bool isProxy(std::string_view protocol) {
    return protocol == "vless" || protocol == "vmess" || protocol == "trojan" || protocol == "shadowsocks";
}

const Shape* transportOf(std::string_view network) {
    static constexpr std::array<std::pair<std::string_view, const Shape*>, 8> transports{{
        {"tcp", &raw},
        {"kcp", &kcp},
        {"ws", &ws},
        {"http", &http},
        {"grpc", &grpc},
        {"quic", &quic},
        {"httpupgrade", &upgrade},
        {"xhttp", &xhttp},
    }};
    return byName(transports, network);
}

bool v2rayKnowsTls(std::string_view key) {
    return key == "serverName" || key == "allowInsecure" || key == "alpn" || key == "disableSystemRoot" ||
           key == "enableSessionResumption" || key == "pinnedPeerCertificateChainSha256";
}

} // namespace engine::shapes
