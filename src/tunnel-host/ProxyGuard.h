#pragma once

#include <QString>

// vemko-tunnel --proxy-guard: started by a host of the desktop-proxy mode with, as its standard
// input, a pipe only that host writes to. It waits for end-of-file (the host is gone: stopped,
// crashed or killed) and then puts the user's proxy settings back, unless another host already
// runs (it carries the settings now and restores them at its own end).
namespace ProxyGuard {

inline constexpr int httpPort = 10809;

int run(const QString& runtimeDir);

} // namespace ProxyGuard
