#include "SocksPort.h"

#include "os/SocketTable.h"

#include <algorithm>

namespace SocksPort {

bool listenedBy(pid_t pid) {
    const auto table = os::socketTable(os::Scope::TcpListeners);
    const std::vector<os::Socket> listeners = table ? *table : os::tcpListenersFromProc();
    const auto ours = [](const os::Socket& socket) {
        return socket.port == port && socket.loopbackOnly;
    };
    // The engine's descriptors are read only once somebody listens there at all.
    if (std::none_of(listeners.begin(), listeners.end(), ours))
        return false;
    const auto inodes = os::socketInodes(pid);
    return std::any_of(listeners.begin(), listeners.end(), [&](const os::Socket& socket) {
        return ours(socket) && inodes.contains(socket.inode);
    });
}

} // namespace SocksPort
