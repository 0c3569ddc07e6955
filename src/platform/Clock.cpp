#include "platform/Clock.h"

#include <QCoroTimer>

QDateTime SystemClock::now() const {
    return QDateTime::currentDateTimeUtc();
}

QCoro::Task<> SystemClock::sleep(std::chrono::milliseconds duration) {
    co_await QCoro::sleepFor(duration);
}

Clock& Clock::system() {
    static SystemClock clock;
    return clock;
}
