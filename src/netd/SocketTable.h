#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <sys/types.h>
#include <vector>

namespace netd {

// The kernel's table of TCP and UDP sockets of this network namespace (IPv4 and IPv6, every state),
// asked over sock_diag. What it says is what is: unlike a bind that fails or not (engines set
// SO_REUSEPORT), or a connect that some other program may answer.
struct Socket {
    int protocol = 0; // IPPROTO_TCP or IPPROTO_UDP
    int port = 0;     // the local port
    bool listening = false;
    bool loopbackOnly = false; // bound to 127.0.0.1
    std::uint32_t inode = 0;
};

// Nothing when the kernel does not answer.
std::optional<std::vector<Socket>> socketTable();

// The socket inodes among the open files of `pid`.
std::set<std::uint32_t> socketInodes(pid_t pid);

} // namespace netd
