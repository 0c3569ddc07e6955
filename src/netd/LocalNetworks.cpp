#include "netd/LocalNetworks.h"

#include <algorithm>
#include <arpa/inet.h>
#include <bit>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <ifaddrs.h>
#include <net/if.h>
#include <optional>
#include <sstream>

namespace netd {

namespace {

struct Subnet {
    std::uint32_t network = 0; // host order
    int prefix = 0;
    std::uint32_t mask() const { return prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix); }
    bool contains(const Subnet& other) const {
        return other.prefix >= prefix && (other.network & mask()) == network;
    }
};

// RFC 1918 and link-local: nothing public is ever "the LAN".
const Subnet privateRanges[] = {{0x0A000000, 8}, {0xAC100000, 12}, {0xC0A80000, 16}, {0xA9FE0000, 16}};

std::optional<Subnet> parse(const std::string& cidr) {
    const auto slash = cidr.find('/');
    in_addr address{};
    if (slash == std::string::npos || ::inet_pton(AF_INET, cidr.substr(0, slash).c_str(), &address) != 1)
        return std::nullopt;
    const std::string length = cidr.substr(slash + 1);
    if (length.empty() || length.size() > 2 || !std::all_of(length.begin(), length.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c));
        }))
        return std::nullopt;
    Subnet subnet{ntohl(address.s_addr), std::stoi(length)};
    if (subnet.prefix > 32)
        return std::nullopt;
    subnet.network &= subnet.mask();
    return subnet;
}

std::string text(const Subnet& subnet) {
    in_addr address{};
    address.s_addr = htonl(subnet.network);
    char dotted[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, dotted, sizeof dotted);
    return std::string(dotted) + "/" + std::to_string(subnet.prefix);
}

bool plainName(const std::string& name) {
    return !name.empty() && name.size() < IFNAMSIZ && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
    });
}

} // namespace

std::vector<std::string> localNetworks(const std::vector<InterfaceAddress>& addresses) {
    std::vector<Subnet> subnets;
    for (const InterfaceAddress& address : addresses) {
        const auto subnet = parse(address.cidr);
        if (address.interface == "lo" || !subnet)
            continue;
        // Within a private range, or that range where the subnet is wider than it.
        for (const Subnet& range : privateRanges) {
            if (range.contains(*subnet))
                subnets.push_back(*subnet);
            else if (subnet->contains(range))
                subnets.push_back(range);
        }
    }
    // Widest first: a subnet inside one already kept adds nothing.
    std::sort(subnets.begin(), subnets.end(), [](const Subnet& a, const Subnet& b) {
        return a.prefix != b.prefix ? a.prefix < b.prefix : a.network < b.network;
    });
    std::vector<Subnet> kept;
    for (const Subnet& subnet : subnets)
        if (std::none_of(kept.begin(), kept.end(),
                         [&](const Subnet& wider) { return wider.contains(subnet); }))
            kept.push_back(subnet);
    std::sort(kept.begin(), kept.end(),
              [](const Subnet& a, const Subnet& b) { return a.network < b.network; });
    std::vector<std::string> texts;
    texts.reserve(kept.size());
    for (const Subnet& subnet : kept)
        texts.push_back(text(subnet));
    return texts;
}

std::vector<std::string> localNetworks() {
    std::vector<InterfaceAddress> addresses;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return {};
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !entry->ifa_netmask)
            continue;
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        const auto* mask = reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask);
        char dotted[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &address->sin_addr, dotted, sizeof dotted);
        const int prefix = std::popcount(mask->sin_addr.s_addr);
        addresses.push_back({entry->ifa_name, std::string(dotted) + "/" + std::to_string(prefix)});
    }
    ::freeifaddrs(list);
    return localNetworks(addresses);
}

std::vector<std::string> uplinks(const std::string& routeTable) {
    std::vector<std::string> names;
    std::istringstream lines(routeTable);
    std::string line;
    std::getline(lines, line); // the header
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string device, destination, gateway, flags, refCount, use, metric, mask;
        if (!(fields >> device >> destination >> gateway >> flags >> refCount >> use >> metric >> mask))
            continue;
        if (destination == "00000000" && mask == "00000000" && plainName(device) &&
            std::find(names.begin(), names.end(), device) == names.end())
            names.push_back(device);
    }
    return names;
}

std::vector<std::string> uplinks() {
    std::ifstream file("/proc/net/route");
    std::stringstream text;
    text << file.rdbuf();
    return uplinks(text.str());
}

} // namespace netd
