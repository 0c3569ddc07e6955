#pragma once

#include "service/ServerProfile.h"

#include <QString>

// The document the tunnel runs: the server's own configuration with the local SOCKS entry
// 127.0.0.1:10808 as its only inbound, log level "warning" and no "remarks". Throws Fail.
QString makeConfig(const ServerProfile& profile);
