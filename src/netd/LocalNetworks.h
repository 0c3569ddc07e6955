#pragma once

#include <string>
#include <vector>

namespace netd {

// An IPv4 address of an interface with its prefix length, as "192.0.2.7/24".
struct InterfaceAddress {
    std::string interface;
    std::string cidr;
};

// The networks left direct: the subnets this machine's own interfaces are connected to (the
// prefixes of their addresses, loopback aside), only within the private and link-local ranges,
// merged where they overlap so that the set can always be built; CIDR texts. Routes count for
// nothing: a DHCP server can push any on-link route (TunnelVision), only the administrator gives an
// interface its address. Computed by the helper itself, never taken from the caller.
std::vector<std::string> localNetworks(const std::vector<InterfaceAddress>& addresses);
std::vector<std::string> localNetworks();

// The interfaces that carry a default route, from the kernel's routing table text (/proc/net/route):
// what arrives on them is the outside, never a container of this machine. Only plain names.
std::vector<std::string> uplinks(const std::string& routeTable);
std::vector<std::string> uplinks();

} // namespace netd
