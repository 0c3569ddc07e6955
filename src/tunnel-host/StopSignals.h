#pragma once

#include "os/Fd.h"

// SIGTERM, SIGINT and SIGHUP as a descriptor the event loop reads (signalfd): a stop runs the same
// orderly shutdown as an engine exit instead of ending the host inside a signal handler. The
// signals stay blocked for the host's life; its children start with none blocked.
class StopSignals {
public:
    StopSignals();
    int fd() const { return m_fd.get(); }
    // Reads what arrived; true when it was a stop.
    bool take() const;

private:
    os::Fd m_fd;
};
