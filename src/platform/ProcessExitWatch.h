#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

// Tells when a process ends, without looking again and again: a pidfd that becomes readable when
// the process exits (Linux 5.3 and later), for any process, ours or not.
class ProcessExitWatch : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~ProcessExitWatch() override;

    // Watches `pid` instead of the one before; true when it is watched (already or now). False
    // when the system cannot (the caller then keeps looking itself) or the process is gone.
    bool watch(qint64 pid);
    void clear();

signals:
    void exited();

private:
    qint64 m_pid = 0;
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
