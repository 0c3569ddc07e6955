#pragma once

#include "platform/TunnelManager.h"
#include "tunnel/Vpn.h"

// The app's tunnel state for each of the platform's: only connecting, reasserting and connected
// count as a tunnel; every other state is off.
VpnStatus vpnStatusFor(TunnelStatus status);
