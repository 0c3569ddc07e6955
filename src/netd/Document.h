#pragma once

#include "engine/Engine.h"
#include "engine/Json.h"
#include "engine/Schema.h"
#include "netd/Ports.h"

#include <string>
#include <variant>

namespace netd {

// Largest engine document the helper reads from its standard input.
constexpr std::size_t maxDocumentBytes = engine::maxDocumentBytes;

// The caller's document read through the allow-list on its own (the caller is not trusted) and
// the engine document written fresh for `engine`: the SOCKS inbound, the redirect and DNS
// inbounds on `ports`, the captured DNS sent through the proxy; nothing of the caller's beyond its servers,
// routing and resolvers. A document the allow-list refuses, or one `engine` cannot run as
// written, is refused with the reason.
std::variant<std::string, engine::Refusal> engineDocument(const std::string& callerDocument,
                                                          const engine::EngineInfo& engine,
                                                          const CapturePorts& ports = preferredPorts);

} // namespace netd
