#pragma once

// Header only: the app reads the helper's status by the same name.

#include <cstdint>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace netd {

// The name of this network namespace's state in the helper's folder: "net-c<cookie>", the cookie the
// kernel gives a namespace and never gives another while it runs (SO_NETNS_COOKIE, Linux 5.14). A
// kernel without it gets "net-i<inode>", which it may hand to a later namespace. Empty on failure.
inline std::string netnsKey() {
    const int probe = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    std::uint64_t cookie = 0;
    socklen_t length = sizeof cookie;
    const bool known = probe >= 0 && ::getsockopt(probe, SOL_SOCKET, SO_NETNS_COOKIE, &cookie, &length) == 0;
    if (probe >= 0)
        ::close(probe);
    if (known)
        return "net-c" + std::to_string(cookie);
    struct stat ns {};
    return ::stat("/proc/self/ns/net", &ns) == 0 ? "net-i" + std::to_string(ns.st_ino) : std::string();
}

} // namespace netd
