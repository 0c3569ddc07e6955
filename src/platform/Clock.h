#pragma once

#include <QCoroTask>
#include <QDateTime>
#include <chrono>

// Every timed wait of the app goes through a Clock, so tests can run hours of flow in milliseconds.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    virtual QCoro::Task<> sleep(std::chrono::milliseconds duration) = 0;

    // The wall clock and QCoro's timers; the running app's clock.
    static Clock& system();
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override;
    QCoro::Task<> sleep(std::chrono::milliseconds duration) override;
};
