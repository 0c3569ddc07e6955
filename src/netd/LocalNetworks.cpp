#include "netd/LocalNetworks.h"

#include <arpa/inet.h>
#include <bit>
#include <fstream>
#include <sstream>

namespace netd {

namespace {

constexpr unsigned routeUp = 0x1;
constexpr unsigned routeGateway = 0x2;

std::string dotted(std::uint32_t networkOrder) {
    in_addr address{};
    address.s_addr = networkOrder;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

} // namespace

std::vector<std::string> localNetworks(const std::string& routeTable) {
    std::vector<std::string> subnets;
    std::istringstream lines(routeTable);
    std::string line;
    std::getline(lines, line); // the header
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string device;
        std::string destination, gateway, flags, refCount, use, metric, mask;
        if (!(fields >> device >> destination >> gateway >> flags >> refCount >> use >> metric >> mask))
            continue;
        try {
            // The kernel prints the addresses as host-order hex of the network-order words.
            const auto net = static_cast<std::uint32_t>(std::stoul(destination, nullptr, 16));
            const auto netmask = static_cast<std::uint32_t>(std::stoul(mask, nullptr, 16));
            const auto routeFlags = static_cast<unsigned>(std::stoul(flags, nullptr, 16));
            if (device == "lo" || !(routeFlags & routeUp) || (routeFlags & routeGateway) || netmask == 0)
                continue;
            const int prefix = std::popcount(netmask);
            const std::string cidr = dotted(net & netmask) + "/" + std::to_string(prefix);
            bool known = false;
            for (const std::string& subnet : subnets)
                known = known || subnet == cidr;
            if (!known)
                subnets.push_back(cidr);
        } catch (const std::exception&) {
            continue; // a line we do not understand adds nothing
        }
    }
    return subnets;
}

std::vector<std::string> localNetworks() {
    std::ifstream file("/proc/net/route");
    std::stringstream text;
    text << file.rdbuf();
    return localNetworks(text.str());
}

} // namespace netd
