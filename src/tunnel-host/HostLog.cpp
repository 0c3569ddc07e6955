#include "HostLog.h"

#include "HostStatus.h"
#include "os/OwnFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t limitBytes = std::size_t{1024} * 1024;

} // namespace

HostLog::HostLog(const std::string& path) : m_fd(os::openForWriting(path, O_WRONLY | O_TRUNC)) {
    if (m_fd)
        ::fchmod(m_fd.get(), 0600);
}

void HostLog::line(std::string_view text) {
    write(isoUtc(std::chrono::system_clock::now()) + " vemko-tunnel: " + std::string(text) + '\n');
}

void HostLog::engineOutput(std::string_view bytes) {
    if (m_fd && m_size > limitBytes) {
        if (::ftruncate(m_fd.get(), 0) == 0 && ::lseek(m_fd.get(), 0, SEEK_SET) == 0)
            m_size = 0;
        line("log restarted after " + std::to_string(limitBytes) + " bytes");
    }
    write(bytes);
}

void HostLog::write(std::string_view bytes) {
    while (m_fd && !bytes.empty()) {
        const ssize_t written = ::write(m_fd.get(), bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return; // a full folder: the log is help, not a reason to stop
        m_size += static_cast<std::size_t>(written);
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}
