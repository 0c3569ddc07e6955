#pragma once

#include "platform/Clock.h"

#include <coroutine>
#include <optional>
#include <vector>

// A clock that stands still until the test moves it. Sleepers wake in time order (and in the order
// they went to sleep for equal times), each resumed right on the test's stack.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(QDateTime start = QDateTime(QDate(2026, 1, 15), QTime(12, 0), Qt::UTC));

    QDateTime now() const override { return m_now; }
    QCoro::Task<> sleep(std::chrono::milliseconds duration) override;

    // Moves time forward by `duration`, waking every sleeper due on the way (including sleepers
    // that woken coroutines start before the end of the window).
    void advance(std::chrono::milliseconds duration);
    // Jumps to the earliest sleeper's time and wakes it (and any other due then). False when none.
    bool advanceToNext();
    int sleepers() const { return static_cast<int>(m_sleepers.size()); }
    // Total virtual time moved since construction.
    std::chrono::milliseconds elapsed() const;

private:
    struct Sleeper {
        QDateTime due;
        quint64 order;
        std::coroutine_handle<> handle;
    };
    struct Awaiter {
        VirtualClock* clock;
        QDateTime due;
        bool await_ready() const noexcept { return due <= clock->m_now; }
        void await_suspend(std::coroutine_handle<> handle) {
            clock->m_sleepers.push_back({due, clock->m_order++, handle});
        }
        void await_resume() const noexcept {}
    };
    bool wakeNextDueBy(const QDateTime& limit);

    QDateTime m_start;
    QDateTime m_now;
    quint64 m_order = 0;
    std::vector<Sleeper> m_sleepers;
};
