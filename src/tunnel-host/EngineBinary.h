#pragma once

#include <string>

// The engine binary the host starts.
//
// Debian's v2ray package gives /usr/bin/v2ray a file capability (cap_net_bind_service). Starting a
// file with capabilities makes the process non-dumpable (its owner cannot read /proc/<pid>/fd, so
// the listener check never succeeds) and makes the kernel drop the parent-death signal, so a
// killed host would leave the engine holding the SOCKS port. The engine needs no capability
// (10808 is above 1024): such a binary is run from a private copy, which carries none.
namespace EngineBinary {

struct Prepared {
    std::string program;  // what to start: the installed binary, or its private copy
    std::string error;    // non-empty: the copy could not be made, and why
    std::string assetDir; // with a copy: the installed binary's folder, where its data files are
};

// `installed` is a path or a name looked up on PATH. A binary without file capabilities and
// without set-id bits is run as it is (a name that is not found, too: starting it reports that).
// Otherwise a copy in `cacheDir` (made 0700) is used, made again whenever the installed file's
// size or modification time differs from the copy's.
Prepared prepare(const std::string& installed, const std::string& cacheDir);

} // namespace EngineBinary
