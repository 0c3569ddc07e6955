#include "HostLog.h"

#include "HostStatus.h"
#include "os/OwnFile.h"
#include "os/WriteAll.h"

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
    // A full folder loses a line: the log is help, not a reason to stop.
    if (m_fd && os::writeAll(m_fd.get(), bytes) == 0)
        m_size += bytes.size();
}
