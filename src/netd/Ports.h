#pragma once

#include "os/SocketTable.h"

#include <optional>
#include <set>
#include <vector>

namespace netd {

// The engine's entries: the app's SOCKS entry at its fixed port, and the two capture entries on
// ports chosen at each `up`.
inline constexpr int socksPort = 10808;

struct CapturePorts {
    int redirect = 0;
    int dns = 0;
};

// The first pair from a range far from well-known services (mDNS's 5353 among them) and below the
// kernel's ephemeral ports that no socket of this namespace uses, TCP or UDP, on any address.
inline constexpr CapturePorts preferredPorts{30346, 30353};
std::optional<CapturePorts> choosePorts(const std::vector<os::Socket>& table);

// Whether the engine, and only the engine, listens on its entries: TCP on the SOCKS, redirect and
// DNS ports, UDP on the DNS port, all on 127.0.0.1.
struct Readiness {
    enum class Kind { Waiting, Ready, Taken } kind = Kind::Waiting;
    int port = 0; // Taken: the port another program holds
};
Readiness readiness(const std::vector<os::Socket>& table, const std::set<std::uint32_t>& engineSockets,
                    const CapturePorts& ports);

} // namespace netd
