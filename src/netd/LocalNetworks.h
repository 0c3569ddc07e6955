#pragma once

#include <string>
#include <vector>

namespace netd {

// The IPv4 subnets this machine reaches directly (on-link routes of real interfaces), as CIDR
// texts, from the kernel's routing table text (/proc/net/route). Computed by the helper itself,
// never taken from the caller.
std::vector<std::string> localNetworks(const std::string& routeTable);
std::vector<std::string> localNetworks();

} // namespace netd
