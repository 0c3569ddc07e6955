#include "netd/Document.h"

#include "engine/Document.h"
#include "engine/Server.h"

namespace netd {

std::variant<std::string, engine::Refusal> engineDocument(const std::string& callerDocument,
                                                          const engine::EngineInfo& engine,
                                                          const CapturePorts& ports) {
    const auto server = engine::readServer(std::string_view(callerDocument));
    if (const auto* refusal = std::get_if<engine::Refusal>(&server))
        return *refusal;
    if (const auto why = engine::unusableReason(std::get<engine::Server>(server), engine))
        return engine::Refusal{*why};
    engine::Listeners listeners;
    listeners.capture = engine::Listeners::Capture{ports.redirect, ports.dns};
    return engine::writeDocument(std::get<engine::Server>(server), engine, listeners);
}

} // namespace netd
