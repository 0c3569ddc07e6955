#include "netd/Rules.h"

#include "netd/Document.h"

#include <memory>
#include <nftables/libnftables.h>

namespace netd {

namespace {

// TCP of every local program into the engine's redirect inbound; DNS to any resolver (LAN too)
// into its DNS inbound; every other packet leaving for the outside refused at once (tcp reset,
// icmp admin-prohibited) so programs fail fast instead of hanging. The engine's own traffic is
// known by its user id and never captured. Loopback, local addresses and the LAN stay direct.
// The postrouting drop is the backstop when part of the state is missing.
constexpr const char* ruleTemplate = R"(table inet vemko {
  set bypass4 {
    type ipv4_addr; flags interval;
    elements = { 0.0.0.0/8, 127.0.0.0/8, 169.254.0.0/16, 224.0.0.0/4, 255.255.255.255/32 }
  }
  set lan4 { type ipv4_addr; flags interval; @LAN@ }
  set bypass6 { type ipv6_addr; flags interval; elements = { ::1/128, fe80::/10, ff00::/8 } }
  counter ks_reject {}
  counter ks_drop {}
  chain output_nat {
    type nat hook output priority -100; policy accept;
    meta skuid @UID@ return
    fib daddr type local return
    meta nfproto ipv4 ip daddr @bypass4 return
    ip daddr @lan4 th dport != 53 return
    meta nfproto ipv4 meta l4proto { tcp, udp } th dport 53 redirect to :@DNS@
    meta nfproto ipv4 meta l4proto tcp redirect to :@REDIRECT@
  }
  chain output_filter {
    type filter hook output priority filter; policy accept;
    meta skuid @UID@ accept
    ct status dnat accept
    oifname "lo" accept
    fib daddr type local accept
    ip daddr @bypass4 accept
    ip daddr @lan4 accept
    ip6 daddr @bypass6 accept
    counter name ks_reject
    meta l4proto tcp reject with tcp reset
    reject with icmpx admin-prohibited
  }
  chain postrouting_filter {
    type filter hook postrouting priority filter; policy accept;
    oifname "lo" accept
    meta skuid @UID@ accept
    ip daddr @bypass4 accept
    ip daddr @lan4 accept
    ip6 daddr @bypass6 accept
    counter name ks_drop drop
  }
}
)";

void replaceAll(std::string& text, const std::string& what, const std::string& with) {
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

struct ContextFree {
    void operator()(nft_ctx* context) const { nft_ctx_free(context); }
};

std::string run(const std::string& commands) {
    const std::unique_ptr<nft_ctx, ContextFree> context(nft_ctx_new(NFT_CTX_DEFAULT));
    if (!context)
        return "nftables unavailable";
    nft_ctx_buffer_output(context.get());
    nft_ctx_buffer_error(context.get());
    if (nft_run_cmd_from_buffer(context.get(), commands.c_str()) == 0)
        return {};
    const std::string error = nft_ctx_get_error_buffer(context.get());
    return error.empty() ? "nft failed" : error;
}

} // namespace

std::string Rules::text(uid_t engineUid, const std::vector<std::string>& lanSubnets) {
    std::string lan;
    for (const std::string& subnet : lanSubnets)
        lan += (lan.empty() ? "" : ", ") + subnet;
    std::string text = ruleTemplate;
    replaceAll(text, "@LAN@", lan.empty() ? std::string() : "elements = { " + lan + " }");
    replaceAll(text, "@UID@", std::to_string(engineUid));
    replaceAll(text, "@DNS@", std::to_string(dnsPort));
    replaceAll(text, "@REDIRECT@", std::to_string(redirectPort));
    return text;
}

std::string Rules::up(uid_t engineUid, const std::vector<std::string>& lanSubnets) {
    // "add" then "delete" makes the delete safe when no table exists; all of it is one transaction.
    return run("add table inet vemko\ndelete table inet vemko\n" + text(engineUid, lanSubnets));
}

std::string Rules::block() {
    return run("flush chain inet vemko output_nat\n");
}

std::string Rules::down() {
    return run("add table inet vemko\ndelete table inet vemko\n");
}

bool Rules::present() {
    return run("list table inet vemko\n").empty();
}

} // namespace netd
