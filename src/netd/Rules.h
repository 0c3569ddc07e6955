#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace netd {

// The nftables table "inet vemko" of the system-wide mode, through libnftables.
// Every call returns an empty string on success, else nft's message.
class Rules {
public:
    // The rule text with the engine's user id and the LAN subnets (CIDR texts) filled in.
    static std::string text(uid_t engineUid, const std::vector<std::string>& lanSubnets);

    // Puts the table in place in one transaction, replacing an older one: at no moment is there
    // no rule while the tunnel should be up.
    static std::string up(uid_t engineUid, const std::vector<std::string>& lanSubnets);
    // The engine is gone: stop handing traffic to it; the filter chains keep refusing.
    static std::string block();
    // Removes the table; nothing is left behind. No table is fine.
    static std::string down();
    static bool present();
};

} // namespace netd
