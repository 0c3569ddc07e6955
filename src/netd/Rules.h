#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace netd {

// What the rules are made of: the engine's user, the local networks left direct, the interfaces that
// carry a default route and the engine's two capture ports.
struct TableSpec {
    uid_t engineUid = 0;
    std::vector<std::string> lan;     // IPv4 CIDR texts, disjoint
    std::vector<std::string> uplinks; // interface names
    int redirectPort = 0;
    int dnsPort = 0;
};

// The nftables tables of the system-wide mode, through libnftables. Every call returns an empty
// string on success, else nft's message.
//   inet vemko        the capture and the kill switch; outlives the helper's processes
//   inet vemko_guard  the kill switch once more, owned by the supervisor: a firewall reload
//                     ("nft flush ruleset") cannot remove it, so nothing leaves while the
//                     supervisor puts the first table back
namespace rules {

inline constexpr const char* table = "inet vemko";
inline constexpr const char* guardTable = "inet vemko_guard";

std::string text(const TableSpec& spec);
std::string guardText(const TableSpec& spec);
// The commands that replace the table in one transaction: as it is while up, and as it is while
// blocked (the capture chains empty).
std::string upCommands(const TableSpec& spec);
std::string blockedCommands(const TableSpec& spec);

// Puts the table in place in one transaction, replacing an older one: at no moment is there no
// rule while the tunnel should be up.
std::string up(const TableSpec& spec);
// The engine is gone: stop handing traffic to it; the filter chains keep refusing.
std::string block();
// Removes the table; nothing is left behind. No table is fine.
std::string down();
bool present();

} // namespace rules

} // namespace netd
