#include "tunnel/StatusMap.h"

VpnStatus vpnStatusFor(TunnelStatus status) {
    switch (status) {
    case TunnelStatus::Connecting:
    case TunnelStatus::Reasserting:
        return VpnStatus::Connecting;
    case TunnelStatus::Connected:
        return VpnStatus::On;
    case TunnelStatus::Invalid:
    case TunnelStatus::Disconnected:
    case TunnelStatus::Disconnecting:
        return VpnStatus::Off;
    }
    return VpnStatus::Off;
}
