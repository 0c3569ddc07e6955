#pragma once

#include <cstddef>
#include <optional>
#include <string>

// The app's and the tunnel host's own state files, which must be plain files: never a link (a
// write would land on its target), never a FIFO or device (a read or an open would hang).
namespace os {

// A descriptor for reading a regular file (close-on-exec, blocking cleared), or -1: missing,
// a link, or not a regular file.
int openForReading(const std::string& path);

// At most `limit` bytes of a regular file; nothing when it cannot be read that way.
std::optional<std::string> readOwnFile(const std::string& path, std::size_t limit);

// A descriptor for writing a regular file of ours, created 0600 when missing (close-on-exec;
// `flags` adds O_TRUNC, O_RDWR...). Anything else in its place (a link, a FIFO) is removed and
// a fresh file made. -1 with errno set when that fails.
int openForWriting(const std::string& path, int flags);

} // namespace os
