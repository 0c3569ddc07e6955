#pragma once

#include "os/Fd.h"

#include <string>

// The exclusive lock one running host holds for its whole life (vemko-tunnel.lock in the runtime
// folder). The kernel drops it when the process ends in any way, so "lock held" is the exact test
// for "a host runs" (the app's HostFiles::hostRunning asks the same).
class HostLock {
public:
    explicit HostLock(const std::string& runtimeDir);

    // Takes the lock when free; never blocks.
    bool tryAcquire();
    bool held() const { return m_held; }

    // Some host holds the lock now.
    static bool taken(const std::string& runtimeDir);

private:
    os::Fd m_fd;
    bool m_held = false;
};
