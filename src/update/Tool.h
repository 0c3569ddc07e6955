#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <chrono>

// How an external tool ended.
struct ToolResult {
    int exitCode = -1;     // -1 for a crash or a tool stopped for taking too long
    bool timedOut = false; // killed after the time limit
    QByteArray output;     // its standard output, when asked for (channels = SeparateChannels)
};

// Runs an external tool with nothing on its standard input and blocks until it exits or `limit`
// passes (then it is killed). Throws PlatformError when it cannot be started.
ToolResult runTool(const QString& program, const QStringList& arguments,
                   QProcess::ProcessChannelMode channels, std::chrono::milliseconds limit);
