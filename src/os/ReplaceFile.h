#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace os {

// How far a replacement goes before it returns.
enum class Durability {
    // Renamed into place: readers see the old file or the new one, never half of either. Enough for
    // files rewritten before every connection (the tunnel configuration) or describing a running
    // process (the host's state): surviving a power loss is worth nothing there, while a sync on
    // the connect path costs milliseconds.
    Atomic,
    // Also on disk before it returns (the file synced before the rename, the folder after it): the
    // user's settings survive a crash right after a change.
    Synced,
};

// Replaces `path` with `bytes`: a private temporary file (mode 0600) next to it, "<name>.XXXXXX",
// every byte of it written and checked, renamed over the old one. A failure leaves the old file
// untouched and no temporary behind. 0, or the errno of the step that failed.
int replaceFile(const std::string& path, std::string_view bytes, Durability durability) noexcept;

// The same, with the new content written by `fill` into the temporary's descriptor (0, or an errno
// that abandons the replacement).
int replaceFileWith(const std::string& path, const std::function<int(int fd)>& fill, Durability durability);

// Removes the temporary files a killed process left beside `path` while replacing it
// ("<name>.XXXXXX", as replaceFile and QSaveFile name them). Only regular files of ours go.
void removeLeftoverTemporaries(const std::string& path);

} // namespace os
