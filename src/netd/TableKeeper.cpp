#include "netd/TableKeeper.h"

#include <linux/netfilter/nfnetlink.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace netd {

TableKeeper::TableKeeper(TableSpec spec)
    : m_spec(std::move(spec)),
      m_monitor(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_NETFILTER)) {
    // Bound first: the kernel sends its multicast only to bound sockets.
    sockaddr_nl self{};
    self.nl_family = AF_NETLINK;
    const int group = NFNLGRP_NFTABLES;
    if (m_monitor >= 0 &&
        (::bind(m_monitor, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
         ::setsockopt(m_monitor, SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &group, sizeof group) != 0)) {
        ::close(m_monitor);
        m_monitor = -1;
    }
    m_expected = m_nft.listing(rules::table);
}

TableKeeper::~TableKeeper() {
    if (m_monitor >= 0)
        ::close(m_monitor);
}

bool TableKeeper::guard() {
    return m_nft.run(rules::guardText(m_spec)).empty();
}

std::string TableKeeper::block() {
    m_blocked = true;
    std::string error = m_nft.run(rules::blockedCommands(m_spec));
    m_expected = m_nft.listing(rules::table);
    return error;
}

TableKeeper::Check TableKeeper::check() {
    if (!m_expected.empty() && m_nft.listing(rules::table) == m_expected)
        return Check::Unchanged;
    if (!m_nft.run(m_blocked ? rules::blockedCommands(m_spec) : rules::upCommands(m_spec)).empty())
        return Check::Lost;
    m_expected = m_nft.listing(rules::table);
    return Check::Restored;
}

void TableKeeper::drainChanges() const {
    char buffer[8192];
    while (m_monitor >= 0 && ::recv(m_monitor, buffer, sizeof buffer, 0) > 0) {
    }
}

} // namespace netd
