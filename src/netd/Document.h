#pragma once

#include <cstddef>
#include <string>
#include <variant>

namespace netd {

// Largest engine document the helper reads from its standard input.
constexpr std::size_t maxDocumentBytes = 256 * 1024;

// Ports of the two inbounds the helper adds for the captured traffic; the rule text names them.
constexpr int redirectPort = 12346;
constexpr int dnsPort = 5353;

struct Refusal {
    std::string reason;
};

// The caller's engine document turned into the one the engine runs: every inbound of the caller
// must listen on 127.0.0.1 (nothing opened to the LAN), and must not take the helper's ports.
// The helper adds its redirect and DNS inbounds, a DNS outbound through the first (proxy)
// outbound, and drops what would make the engine write files or open a control API.
std::variant<std::string, Refusal> engineDocument(const std::string& callerDocument);

} // namespace netd
