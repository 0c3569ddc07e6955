#include "netd/Rules.h"

#include "netd/Nft.h"

namespace netd::rules {

namespace {

// The sets both tables decide by.
constexpr const char* setsTemplate = R"(  set bypass4 {
    type ipv4_addr; flags interval;
    elements = { 0.0.0.0/8, 127.0.0.0/8, 169.254.0.0/16, 224.0.0.0/4, 255.255.255.255/32 }
  }
  set lan4 { type ipv4_addr; flags interval; @LAN@ }
  set bypass6 { type ipv6_addr; flags interval; elements = { ::1/128, fe80::/10, ff00::/8 } }
  set uplinks { type ifname; @UPLINKS@ }
)";

// Every packet leaving for the outside but the engine's and the captured ones is refused at once
// (tcp reset, icmp admin-prohibited) so programs fail fast instead of hanging; the postrouting drop
// is the backstop when part of the state is missing. A captured connection is known by its new
// destination, not by its conntrack status alone: while no nat chain is hooked (the moment after a
// "flush ruleset") the kernel sends packets of connections redirected earlier untranslated. Forwarded packets
// (containers, virtual machines) that were not captured are refused the same way; answers to connections made
// from outside (published ports) pass. With route_localnet on, nothing from outside may reach 127.0.0.0/8.
constexpr const char* filterTemplate = R"(  chain prerouting_guard {
    type filter hook prerouting priority -300; policy accept;
    iifname != "lo" ip daddr 127.0.0.0/8 drop
    iifname != "lo" ip saddr 127.0.0.0/8 drop
  }
  chain output_filter {
    type filter hook output priority filter; policy accept;
    meta skuid @UID@ accept
    ct status dnat ip daddr 127.0.0.1 accept
    oifname "lo" accept
    fib daddr type local accept
    ip daddr @bypass4 accept
    ip daddr @lan4 accept
    ip6 daddr @bypass6 accept
    counter name ks_reject
    meta l4proto tcp reject with tcp reset
    reject with icmpx admin-prohibited
  }
  chain forward_filter {
    type filter hook forward priority filter; policy accept;
    ct direction reply accept
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
    ct direction reply accept
    ip daddr @bypass4 accept
    ip daddr @lan4 accept
    ip6 daddr @bypass6 accept
    counter name ks_drop drop
  }
)";

// TCP of every local program into the engine's redirect inbound; DNS to any resolver (LAN too) into
// its DNS inbound. The same for what containers and virtual machines behind this machine's own
// bridges send (prerouting, everything but what arrives on an uplink), sent to 127.0.0.1 with
// route_localnet on. The engine's own traffic is known by its user id and never captured; loopback,
// local addresses and the LAN stay direct.
constexpr const char* captureTemplate = R"(  chain output_nat {
    type nat hook output priority -100; policy accept;
    meta skuid @UID@ return
    fib daddr type local return
    meta nfproto ipv4 ip daddr @bypass4 return
    ip daddr @lan4 th dport != 53 return
    meta nfproto ipv4 meta l4proto { tcp, udp } th dport 53 redirect to :@DNS@
    meta nfproto ipv4 meta l4proto tcp redirect to :@REDIRECT@
  }
  chain prerouting_nat {
    type nat hook prerouting priority -100; policy accept;
    iifname "lo" return
    iifname @uplinks return
    fib daddr type local return
    meta nfproto ipv4 ip daddr @bypass4 return
    ip daddr @lan4 th dport != 53 return
    meta nfproto ipv4 meta l4proto { tcp, udp } th dport 53 dnat ip to 127.0.0.1:@DNS@
    meta nfproto ipv4 meta l4proto tcp dnat ip to 127.0.0.1:@REDIRECT@
  }
)";

void replaceAll(std::string& text, const std::string& what, const std::string& with) {
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

std::string elements(const std::vector<std::string>& items, bool quoted) {
    std::string list;
    for (const std::string& item : items)
        list += (list.empty() ? "" : ", ") + (quoted ? "\"" + item + "\"" : item);
    return list.empty() ? std::string() : "elements = { " + list + " }";
}

std::string filled(std::string text, const TableSpec& spec) {
    replaceAll(text, "@LAN@", elements(spec.lan, false));
    replaceAll(text, "@UPLINKS@", elements(spec.uplinks, true));
    replaceAll(text, "@UID@", std::to_string(spec.engineUid));
    replaceAll(text, "@DNS@", std::to_string(spec.dnsPort));
    replaceAll(text, "@REDIRECT@", std::to_string(spec.redirectPort));
    return text;
}

const std::string emptyCapture =
    std::string("flush chain ") + table + " output_nat\nflush chain " + table + " prerouting_nat\n";

const std::string counters = "  counter ks_reject {}\n  counter ks_drop {}\n";

// "add" then "delete" makes the delete safe when no table exists; all of it is one transaction.
std::string replacing(const char* name) {
    return std::string("add table ") + name + "\ndelete table " + name + "\n";
}

} // namespace

std::string text(const TableSpec& spec) {
    return filled(std::string("table ") + table + " {\n" + setsTemplate + counters + filterTemplate +
                      captureTemplate + "}\n",
                  spec);
}

std::string guardText(const TableSpec& spec) {
    return filled(std::string("table ") + guardTable + " {\n  flags owner\n" + setsTemplate + counters +
                      filterTemplate + "}\n",
                  spec);
}

std::string upCommands(const TableSpec& spec) {
    return replacing(table) + text(spec);
}

std::string blockedCommands(const TableSpec& spec) {
    return upCommands(spec) + emptyCapture;
}

std::string up(const TableSpec& spec) {
    return Nft().run(upCommands(spec));
}

std::string block() {
    return Nft().run(emptyCapture);
}

std::string down() {
    return Nft().run(replacing(table));
}

bool present() {
    return !Nft().listing(table).empty();
}

} // namespace netd::rules
