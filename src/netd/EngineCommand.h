#pragma once

#include "engine/Engine.h"

#include <string>
#include <vector>

namespace netd {

// How to start the engine with no capability at all. Debian's v2ray carries the file capability
// cap_net_bind_service: exec'ed directly it either gains that capability or, with an empty
// bounding set, is refused (EPERM). Such a binary is started through its ELF interpreter (the
// dynamic loader), which maps it without its file capabilities.
std::vector<std::string> engineCommand(const engine::EngineInfo& engine, const std::string& config);

// The PT_INTERP of a 64-bit ELF file; empty when it has none or is not one.
std::string elfInterpreter(const std::string& path);

} // namespace netd
