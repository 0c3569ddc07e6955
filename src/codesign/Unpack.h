#pragma once

#include <cstdint>
#include <functional>
#include <string>

// What unpacking an update archive may cost at most.
struct UnpackLimits {
    std::uint64_t bytes = 0;   // written in all, counted as they are written
    std::uint64_t entries = 0; // files, folders and links
};

enum class UnpackResult { Done, Damaged, TooLarge };

// Unpacks the ZIP archive `archive` into the existing folder `folder`, trusting nothing the archive
// says: a directory that promises more than the limits is refused before a byte is written, and
// every entry is held to its declared size and checksum while it is written, with the bytes
// actually written counted against the limit. Entries are regular files (executable or not),
// folders and symbolic links; a name that is absolute, climbs with "..", or would be reached
// through a link is damage, as is an entry met twice. `progress(done, total)` follows each entry.
// On failure `reason` says why (for the log); what was written stays for the caller to remove.
UnpackResult unpackZip(const std::string& archive, const std::string& folder, const UnpackLimits& limits,
                       const std::function<void(std::uint64_t, std::uint64_t)>& progress,
                       std::string& reason);
