#include "HostLock.h"

#include "HostPaths.h"
#include "os/OwnFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

// Close-on-exec (OwnFile): the engine must not inherit the lock and keep it after the host is gone.
HostLock::HostLock(const std::string& runtimeDir)
    : m_fd(os::openForWriting(HostPaths::lockFile(runtimeDir), O_RDWR)) {}

bool HostLock::tryAcquire() {
    if (!m_held && m_fd)
        m_held = ::flock(m_fd.get(), LOCK_EX | LOCK_NB) == 0;
    return m_held;
}

bool HostLock::taken(const std::string& runtimeDir) {
    const os::Fd fd(os::openForReading(HostPaths::lockFile(runtimeDir)));
    // A shared try-lock fails exactly while a host holds its exclusive one; closing drops ours.
    return fd && ::flock(fd.get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}
