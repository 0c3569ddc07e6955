#include "ProxyGuard.h"

#include "HostLock.h"
#include "HostPaths.h"
#include "os/Fd.h"
#include "os/ProxyBackup.h"
#include "os/Spawn.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace ProxyGuard {

std::string start(const std::string& runtimeDir) {
    const os::Fd host(os::openPidfd(::getpid()));
    if (!host)
        return std::strerror(errno);
    // A session of its own: it outlives the host, and nothing meant for the host reaches it.
    const auto spawned =
        os::spawn(HostPaths::selfExecutable(), {"--proxy-guard", "--runtime-dir", runtimeDir},
                  {host.get(), -1, true, false});
    return spawned.error != 0 ? std::strerror(spawned.error) : std::string();
}

int run(const std::string& runtimeDir) {
    pollfd host{STDIN_FILENO, POLLIN, 0};
    while (::poll(&host, 1, -1) < 0 && errno == EINTR) {
    }
    if (!HostLock::taken(runtimeDir))
        os::restoreDesktopProxy(os::proxyStateDir());
    return 0;
}

} // namespace ProxyGuard
