#pragma once

#include "netd/Nft.h"
#include "netd/Rules.h"

#include <string>

namespace netd {

// Keeps the rules as the supervisor put them: owns the guard table, and puts "inet vemko" back
// when anybody else removed or changed it (a firewall reload, "nft flush ruleset", Docker).
class TableKeeper {
public:
    explicit TableKeeper(TableSpec spec);
    TableKeeper(const TableKeeper&) = delete;
    TableKeeper& operator=(const TableKeeper&) = delete;
    ~TableKeeper();

    // Puts the guard in place; false where the kernel has no owned tables (before Linux 5.12).
    bool guard();
    // The engine is gone: the capture chains are emptied from now on.
    std::string block();

    enum class Check { Unchanged, Restored, Lost };
    // Compares the table with what was put in place; puts it back when it differs.
    Check check();
    // A descriptor that becomes readable at every change of nftables in this namespace; -1 when the
    // kernel refuses (the once-a-second look remains).
    int changes() const { return m_monitor; }
    void drainChanges() const;

private:
    TableSpec m_spec;
    Nft m_nft;
    std::string m_expected;
    bool m_blocked = false;
    int m_monitor = -1;
};

} // namespace netd
