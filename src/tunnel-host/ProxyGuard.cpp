#include "ProxyGuard.h"

#include "platform/DesktopProxy.h"
#include "platform/TunnelHostState.h"

#include <cerrno>
#include <unistd.h>

namespace ProxyGuard {

int run(const QString& runtimeDir) {
    char buffer[256];
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got == 0 || (got < 0 && errno != EINTR))
            break;
    }
    if (!HostFiles::hostRunning(runtimeDir))
        DesktopProxy().restore();
    return 0;
}

} // namespace ProxyGuard
