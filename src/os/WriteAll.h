#pragma once

#include <string_view>

namespace os {

// Writes every byte of `bytes` to `fd`, again after EINTR. 0, or an errno: a short write (file size
// limit, full disk) is a failure, never success, and reads as ENOSPC when the kernel gave no reason.
int writeAll(int fd, std::string_view bytes) noexcept;

} // namespace os
