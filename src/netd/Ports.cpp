#include "netd/Ports.h"

#include <algorithm>
#include <netinet/in.h>

namespace netd {

namespace {

constexpr int lastPort = 32000;

bool used(const std::vector<os::Socket>& table, int port) {
    return std::any_of(table.begin(), table.end(),
                       [port](const os::Socket& socket) { return socket.port == port; });
}

} // namespace

std::optional<CapturePorts> choosePorts(const std::vector<os::Socket>& table) {
    CapturePorts ports;
    ports.redirect = used(table, preferredPorts.redirect) ? 0 : preferredPorts.redirect;
    ports.dns = used(table, preferredPorts.dns) ? 0 : preferredPorts.dns;
    for (int port = preferredPorts.dns + 1; port <= lastPort && (!ports.redirect || !ports.dns); ++port)
        if (!used(table, port))
            (ports.redirect ? ports.dns : ports.redirect) = port;
    if (!ports.redirect || !ports.dns)
        return std::nullopt;
    return ports;
}

Readiness readiness(const std::vector<os::Socket>& table, const std::set<std::uint32_t>& engineSockets,
                    const CapturePorts& ports) {
    const struct {
        int protocol;
        int port;
    } entries[] = {{IPPROTO_TCP, socksPort},
                   {IPPROTO_TCP, ports.redirect},
                   {IPPROTO_TCP, ports.dns},
                   {IPPROTO_UDP, ports.dns}};
    Readiness result{Readiness::Kind::Ready};
    for (const auto& entry : entries) {
        bool ours = false;
        for (const os::Socket& socket : table) {
            if (socket.protocol != entry.protocol || socket.port != entry.port || !socket.listening)
                continue;
            // Anyone else on the port, whatever the address, would receive what is meant for the engine.
            if (!engineSockets.contains(socket.inode))
                return {Readiness::Kind::Taken, entry.port};
            ours = ours || socket.loopbackOnly;
        }
        if (!ours)
            result.kind = Readiness::Kind::Waiting;
    }
    return result;
}

} // namespace netd
