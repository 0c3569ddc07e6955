#pragma once

#include "support/VirtualClock.h"

#include <QCoroTask>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// Runs the event loop (and, when given, the virtual clock) until `done` holds.
// Real I/O gets a moment to settle before virtual time jumps to the next sleeper, so a flow that
// alternates requests to the test service with clock waits runs through in milliseconds.
// Returns false when the real-time watchdog expires first.
bool drive(const std::function<bool()>& done, VirtualClock* clock = nullptr,
           std::chrono::milliseconds watchdog = std::chrono::seconds(30));

// Lets real work finish without moving virtual time: returns once the main loop had nothing to do
// for `quiet` and no other thread of the process (Qt's network thread) was runnable meanwhile.
void settle(std::chrono::milliseconds quiet = std::chrono::milliseconds(3));

// Starts `task` on the main loop without waiting; the flag turns true once it has ended.
std::shared_ptr<bool> spawn(QCoro::Task<> task);

// Runs a task to its end under drive(); the result, or nothing when the watchdog expired.
// Exceptions thrown by the task are rethrown here.
template <typename T>
std::optional<T> runTask(QCoro::Task<T> task, VirtualClock* clock = nullptr,
                         std::chrono::milliseconds watchdog = std::chrono::seconds(30));

// Same for a task without a result; true when it finished.
bool runTask(QCoro::Task<> task, VirtualClock* clock = nullptr,
             std::chrono::milliseconds watchdog = std::chrono::seconds(30));

// ---- implementation ----

namespace drive_detail {
template <typename T>
QCoro::Task<> capture(QCoro::Task<T> task, std::optional<T>& result, std::exception_ptr& error,
                      bool& finished) {
    try {
        result = co_await std::move(task);
    } catch (...) {
        error = std::current_exception();
    }
    finished = true;
}
} // namespace drive_detail

template <typename T>
std::optional<T> runTask(QCoro::Task<T> task, VirtualClock* clock, std::chrono::milliseconds watchdog) {
    std::optional<T> result;
    std::exception_ptr error;
    bool finished = false;
    auto runner = drive_detail::capture(std::move(task), result, error, finished);
    drive([&] { return finished; }, clock, watchdog);
    if (error)
        std::rethrow_exception(error);
    return result;
}
