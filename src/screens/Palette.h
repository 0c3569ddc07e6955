#pragma once

#include "tunnel/Vpn.h"

#include <QColor>
#include <array>

namespace Palette {

// The three colours of the home screen's status panel gradient, in order, from the tunnel status
// and the account: amber for a device limit (unless connected) or few days left, teal while
// connecting, green when on, red without a subscription, slate otherwise.
std::array<QColor, 3> statusColors(VpnStatus status, bool active, qint64 days, bool limited);

} // namespace Palette
