#include "support/VirtualClock.h"

#include <QCoreApplication>
#include <algorithm>

VirtualClock::VirtualClock(QDateTime start) : m_start(start), m_now(start) {}

QCoro::Task<> VirtualClock::sleep(std::chrono::milliseconds duration) {
    co_await Awaiter{this, m_now.addMSecs(duration.count())};
}

bool VirtualClock::wakeNextDueBy(const QDateTime& limit) {
    const auto next =
        std::min_element(m_sleepers.begin(), m_sleepers.end(), [](const auto& a, const auto& b) {
            return a.due < b.due || (a.due == b.due && a.order < b.order);
        });
    if (next == m_sleepers.end() || next->due > limit)
        return false;
    const Sleeper sleeper = *next;
    m_sleepers.erase(next);
    if (sleeper.due > m_now)
        m_now = sleeper.due;
    sleeper.handle.resume();
    // Let whatever the woken coroutine queued (signals, zero timers) run before time moves on.
    QCoreApplication::processEvents();
    return true;
}

void VirtualClock::advance(std::chrono::milliseconds duration) {
    const QDateTime target = m_now.addMSecs(duration.count());
    while (wakeNextDueBy(target)) {
    }
    m_now = target;
}

bool VirtualClock::advanceToNext() {
    if (m_sleepers.empty())
        return false;
    const auto earliest =
        std::min_element(m_sleepers.begin(), m_sleepers.end(), [](const auto& a, const auto& b) {
            return a.due < b.due;
        })->due;
    while (wakeNextDueBy(earliest)) {
    }
    return true;
}

std::chrono::milliseconds VirtualClock::elapsed() const {
    return std::chrono::milliseconds(m_start.msecsTo(m_now));
}
