#pragma once

#include "netd/State.h"

namespace netd {

// net.ipv4.conf.all.route_localnet of this namespace: on while up, so that what containers and
// virtual machines send can be handed to the engine on 127.0.0.1 (the rules drop anything from
// outside addressed to 127.0.0.0/8). The value before the first `up` is kept in the state folder and
// put back by `down`.
bool routeLocalnetOn(const State& state);
void routeLocalnetRestore(const State& state);

} // namespace netd
