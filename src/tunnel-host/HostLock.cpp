#include "HostLock.h"

#include "platform/OwnFile.h"
#include "platform/TunnelHostState.h"

#include <QFile>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

HostLock::HostLock(const QString& runtimeDir) {
    // Close-on-exec: the engine must not inherit the lock and keep it after the host is gone.
    m_fd = OwnFile::openForWriting(HostFiles::lockFile(runtimeDir), O_RDWR);
}

HostLock::~HostLock() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool HostLock::tryAcquire() {
    if (!m_held && m_fd >= 0)
        m_held = ::flock(m_fd, LOCK_EX | LOCK_NB) == 0;
    return m_held;
}
