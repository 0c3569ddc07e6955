#pragma once

#include <chrono>
#include <coroutine>
#include <exception>
#include <memory>
#include <utility>

namespace vpn_detail {

// A wake-up that happens once, with success or with an error, for the one coroutine awaiting it.
// Later completions are ignored, so a timer and a notification may race to wake the same waiter.
class OneShot {
public:
    void complete(std::exception_ptr error = nullptr) {
        if (m_done)
            return;
        m_done = true;
        m_error = std::move(error);
        if (auto waiter = std::exchange(m_waiter, {}))
            waiter.resume();
    }
    bool done() const { return m_done; }

    auto operator co_await() {
        struct Awaiter {
            OneShot& shot;
            bool await_ready() const noexcept { return shot.m_done; }
            void await_suspend(std::coroutine_handle<> waiter) noexcept { shot.m_waiter = waiter; }
            void await_resume() const {
                if (shot.m_error)
                    std::rethrow_exception(shot.m_error);
            }
        };
        return Awaiter{*this};
    }

private:
    bool m_done = false;
    std::exception_ptr m_error;
    std::coroutine_handle<> m_waiter;
};

// Completes `shot` from the event loop rather than from the caller's stack, so the woken
// coroutine never runs inside code that is still busy with its own state.
void completeLater(std::shared_ptr<OneShot> shot, std::exception_ptr error = nullptr);

// A reason to doubt the running tunnel wakes the watch, which lets things settle for a while
// (a network that just came back) before it proves the tunnel again.
struct Doubt {
    OneShot wake;
    std::chrono::milliseconds settle{0};
};

// A connect run that a newer connect or a disconnect has replaced (or whose controller is gone):
// it ends at the suspension where it notices, writing nothing.
struct Superseded {};

} // namespace vpn_detail
