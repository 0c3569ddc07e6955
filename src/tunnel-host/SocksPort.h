#pragma once

#include <sys/types.h>

// The engine's SOCKS entry point, 127.0.0.1:10808.
namespace SocksPort {

constexpr int port = 10808;

// The listening socket on 127.0.0.1:10808 belongs to `pid`. Another program that happens to hold
// the port must never make the tunnel read as connected. Asked of the kernel's socket table, never
// by connecting: the engine would log every look.
bool listenedBy(pid_t pid);

} // namespace SocksPort
