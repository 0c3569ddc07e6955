#include "support/Drive.h"

#include "platform/MainTask.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QThread>
#include <unistd.h>

namespace {

// True when no other thread of this process is runnable. Qt's HTTP runs on a thread of its own:
// work handed to it (a request to send, a reply to read) leaves that thread runnable until it is
// done, so "main loop quiet and every other thread asleep" means no real I/O is under way.
bool otherThreadsAsleep() {
    const QString self = QString::number(gettid());
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (tid == self)
            continue;
        QFile stat(tasks.filePath(tid) + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue; // the thread just ended
        const QByteArray line = stat.readAll();
        // "tid (name) S ...": the state follows the last ')' of the name.
        const qsizetype close = line.lastIndexOf(')');
        if (close < 0 || close + 2 >= line.size())
            continue;
        const char state = line.at(close + 2);
        if (state == 'R' || state == 'D')
            return false;
    }
    return true;
}

} // namespace

void settle(std::chrono::milliseconds quiet) {
    QElapsedTimer calm;
    calm.start();
    for (;;) {
        // Threads first: a network thread that finishes after this look has posted its result to
        // the main loop, which processEvents() below then handles and reports.
        const bool busy = !otherThreadsAsleep() ||
                          QCoreApplication::eventDispatcher()->processEvents(QEventLoop::AllEvents);
        if (busy)
            calm.restart();
        else if (calm.elapsed() >= quiet.count())
            return;
        else
            QThread::usleep(200);
    }
}

bool drive(const std::function<bool()>& done, VirtualClock* clock, std::chrono::milliseconds watchdog) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > watchdog.count())
            return false;
        settle(std::chrono::milliseconds(3));
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
    auto withResult = [](QCoro::Task<> inner) -> QCoro::Task<bool> {
        co_await std::move(inner);
        co_return true;
    };
    return runTask(withResult(std::move(task)), clock, watchdog).value_or(false);
}

std::shared_ptr<bool> spawn(QCoro::Task<> task) {
    auto done = std::make_shared<bool>(false);
    startMainTask([](QCoro::Task<> body, std::shared_ptr<bool> flag) -> QCoro::Task<> {
        co_await std::move(body);
        *flag = true;
    }(std::move(task), done));
    return done;
}
