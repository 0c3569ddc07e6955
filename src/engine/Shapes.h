#pragma once

#include "engine/Schema.h"

// The parts of a server entry that are read through fixed shapes: the settings of each outbound
// protocol, the transports' and the security layers' settings, mux and socket options.
namespace engine::shapes {

// The outbound protocols we run, and the shape of each one's "settings".
const Shape* settingsOf(std::string_view protocol);
bool isProxy(std::string_view protocol); // carries traffic to a server (not freedom, blackhole, dns)

// A transport's settings ("wsSettings", ...) by the network's canonical name.
const Shape* transportOf(std::string_view network);
extern const Shape tls;
extern const Shape reality;
extern const Shape sockopt;
extern const Shape mux;

// TLS members v2ray 4.34 knows; any other needs Xray.
bool v2rayKnowsTls(std::string_view key);

} // namespace engine::shapes
