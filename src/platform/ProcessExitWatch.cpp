#include "platform/ProcessExitWatch.h"

#include <sys/syscall.h>
#include <unistd.h>

ProcessExitWatch::~ProcessExitWatch() {
    clear();
}

bool ProcessExitWatch::watch(qint64 pid) {
    if (pid == m_pid && m_fd >= 0)
        return true;
    clear();
    if (pid <= 0)
        return false;
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
    if (fd < 0)
        return false;
    m_pid = pid;
    m_fd = fd;
    m_notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        clear();
        emit exited();
    });
    return true;
}

void ProcessExitWatch::clear() {
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_pid = 0;
}
