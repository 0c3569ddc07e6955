#pragma once

#include <QString>

// The exclusive lock one running host holds for its whole life (vemko-tunnel.lock in the runtime
// folder). The kernel drops it when the process ends in any way, so "lock held" is the exact
// test for "a host runs" (HostFiles::hostRunning).
class HostLock {
public:
    explicit HostLock(const QString& runtimeDir);
    ~HostLock();
    HostLock(const HostLock&) = delete;
    HostLock& operator=(const HostLock&) = delete;

    // Takes the lock when free; never blocks.
    bool tryAcquire();
    bool held() const { return m_held; }

private:
    int m_fd = -1;
    bool m_held = false;
};
