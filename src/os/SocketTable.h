#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <sys/types.h>
#include <vector>

namespace os {

// The kernel's table of TCP and UDP sockets of this network namespace, asked over sock_diag. What
// it says is what is: unlike a bind that fails or not (engines set SO_REUSEPORT), or a connect that
// some other program may answer (and the engine would log).
struct Socket {
    int protocol = 0; // IPPROTO_TCP or IPPROTO_UDP
    int port = 0;     // the local port
    bool listening = false;
    bool loopbackOnly = false; // bound to 127.0.0.1
    std::uint32_t inode = 0;
};

enum class Scope {
    All,          // IPv4 and IPv6, TCP and UDP, every state
    TcpListeners, // IPv4 TCP listeners only: the kernel walks just its listening table, however
                  // many connections (thousands in TIME_WAIT, say) the machine holds
};

// Nothing when the kernel does not answer.
std::optional<std::vector<Socket>> socketTable(Scope scope = Scope::All);

// The IPv4 TCP listeners from /proc/net/tcp, for a kernel without sock_diag (slow on a machine
// with many connections).
std::vector<Socket> tcpListenersFromProc();

// The socket inodes among the open files of `pid`.
std::set<std::uint32_t> socketInodes(pid_t pid);

} // namespace os
