#include "os/WriteAll.h"

#include <cerrno>
#include <unistd.h>

namespace os {

int writeAll(int fd, std::string_view bytes) noexcept {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t chunk = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (chunk < 0 && errno == EINTR)
            continue;
        if (chunk <= 0)
            return chunk < 0 ? errno : ENOSPC;
        written += static_cast<std::size_t>(chunk);
    }
    return 0;
}

} // namespace os
