#pragma once

#include <QCoroTask>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>

class Clock;

// How an external tool ended.
struct ToolResult {
    int exitCode = -1;     // -1 for a crash or a tool stopped for taking too long
    bool timedOut = false; // killed after the time limit
};

// Runs an external tool without blocking the event loop: nothing on its standard input, each line
// of its standard output handed to `onLine` (when given), its errors passed on to ours. When it
// is still running `limit` later on `clock`, it is killed. Throws PlatformError when it cannot start.
QCoro::Task<ToolResult> runTool(Clock& clock, QString program, QStringList arguments,
                                std::chrono::milliseconds limit,
                                std::function<void(const QByteArray&)> onLine = {});
