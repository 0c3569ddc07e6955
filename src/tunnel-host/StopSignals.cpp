#include "StopSignals.h"

#include "os/StopSignalSet.h"

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

StopSignals::StopSignals() {
    const sigset_t signals = os::stopSignalSet();
    ::sigprocmask(SIG_BLOCK, &signals, nullptr);
    m_fd.reset(::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!m_fd) // without one a stop still ends the host, and the engine with it (its death signal)
        ::sigprocmask(SIG_UNBLOCK, &signals, nullptr);
}

bool StopSignals::take() const {
    signalfd_siginfo info{};
    return ::read(m_fd.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info);
}
