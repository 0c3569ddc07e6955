#pragma once

#include <QtGlobal>

// The engine's SOCKS entry point, 127.0.0.1:10808.
namespace SocksPort {

constexpr quint16 port = 10808;

// The listening socket on 127.0.0.1:10808 belongs to `pid`. Another program that happens to hold
// the port must never make the tunnel read as connected.
bool listenedBy(qint64 pid);

} // namespace SocksPort
