#include "support/Drive.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>

namespace {

// Processes events until none arrived for a short real moment.
void settle() {
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < 3) {
        if (QCoreApplication::eventDispatcher()->processEvents(QEventLoop::AllEvents))
            quiet.restart();
        else
            QThread::usleep(200);
    }
}

} // namespace

bool drive(const std::function<bool()>& done, VirtualClock* clock, std::chrono::milliseconds watchdog) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > watchdog.count())
            return false;
        settle();
        if (done())
            break;
        if (clock && clock->sleepers() > 0)
            clock->advanceToNext();
        else
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

bool runTask(QCoro::Task<> task, VirtualClock* clock, std::chrono::milliseconds watchdog) {
    std::exception_ptr error;
    bool finished = false;
    auto runner = [](QCoro::Task<> inner, std::exception_ptr& err, bool& fin) -> QCoro::Task<> {
        try {
            co_await std::move(inner);
        } catch (...) {
            err = std::current_exception();
        }
        fin = true;
    }(std::move(task), error, finished);
    drive([&] { return finished; }, clock, watchdog);
    if (error)
        std::rethrow_exception(error);
    return finished;
}
