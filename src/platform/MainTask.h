#pragma once

#include <QCoroTask>
#include <utility>

// Starts a coroutine on the main thread and lets it run to its end without anyone awaiting it.
// QCoro keeps the frame alive until the coroutine finishes.
template <typename T> void startMainTask(QCoro::Task<T>&& task) {
    [[maybe_unused]] auto detached = std::move(task);
}
