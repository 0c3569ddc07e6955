#include "os/SocketTable.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace os {

namespace {

constexpr std::uint32_t loopback = 0x7F000001;

bool dump(int family, int protocol, std::uint32_t states, std::vector<Socket>& into) {
    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0)
        return false;
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } query{};
    query.header.nlmsg_len = sizeof query;
    query.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    query.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    query.request.sdiag_family = static_cast<std::uint8_t>(family);
    query.request.sdiag_protocol = static_cast<std::uint8_t>(protocol);
    query.request.idiag_states = states;
    bool done = false;
    bool failed = ::send(fd, &query, sizeof query, 0) != static_cast<ssize_t>(sizeof query);
    while (!done && !failed) {
        alignas(nlmsghdr) char buffer[32 * 1024];
        ssize_t length = ::recv(fd, buffer, sizeof buffer, 0);
        if (length <= 0)
            break;
        for (auto* message = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(message, length);
             message = NLMSG_NEXT(message, length)) {
            if (message->nlmsg_type == NLMSG_DONE) {
                done = true;
                break;
            }
            if (message->nlmsg_type == NLMSG_ERROR) {
                failed = true;
                break;
            }
            const auto* entry = static_cast<const inet_diag_msg*>(NLMSG_DATA(message));
            Socket socket;
            socket.protocol = protocol;
            socket.port = ntohs(entry->id.idiag_sport);
            socket.listening = protocol == IPPROTO_UDP || entry->idiag_state == TCP_LISTEN;
            socket.loopbackOnly = family == AF_INET && ntohl(entry->id.idiag_src[0]) == loopback;
            socket.inode = entry->idiag_inode;
            into.push_back(socket);
        }
    }
    ::close(fd);
    return done;
}

} // namespace

std::optional<std::vector<Socket>> socketTable(Scope scope) {
    std::vector<Socket> sockets;
    if (scope == Scope::TcpListeners) {
        if (!dump(AF_INET, IPPROTO_TCP, 1U << TCP_LISTEN, sockets))
            return std::nullopt;
        return sockets;
    }
    for (const int family : {AF_INET, AF_INET6})
        for (const int protocol : {IPPROTO_TCP, IPPROTO_UDP})
            if (!dump(family, protocol, ~0U, sockets))
                return std::nullopt;
    return sockets;
}

// "sl local_address rem_address st ... inode": local "0100007F:2A30", state 0A = LISTEN.
std::vector<Socket> tcpListenersFromProc() {
    std::vector<Socket> sockets;
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line); // the header
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, skip;
        std::uint32_t inode = 0;
        fields >> slot >> local >> remote >> state >> skip >> skip >> skip >> skip >> skip >> inode;
        const auto colon = local.find(':');
        if (!fields || state != "0A" || colon == std::string::npos)
            continue;
        Socket socket;
        socket.protocol = IPPROTO_TCP;
        socket.port = static_cast<int>(std::strtoul(local.c_str() + colon + 1, nullptr, 16));
        socket.listening = true;
        socket.loopbackOnly = local.compare(0, colon, "0100007F") == 0;
        socket.inode = inode;
        sockets.push_back(socket);
    }
    return sockets;
}

std::set<std::uint32_t> socketInodes(pid_t pid) {
    std::set<std::uint32_t> inodes;
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* directory = ::opendir(folder.c_str());
    if (!directory)
        return inodes;
    while (const dirent* entry = ::readdir(directory)) {
        char target[64] = {};
        const std::string link = folder + "/" + entry->d_name;
        const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
        const std::string text(target, length > 0 ? static_cast<std::size_t>(length) : 0);
        // a socket reads "socket:[<inode>]"
        if (text.starts_with("socket:[") && text.ends_with("]"))
            inodes.insert(static_cast<std::uint32_t>(std::stoul(text.substr(8, text.size() - 9))));
    }
    ::closedir(directory);
    return inodes;
}

} // namespace os
