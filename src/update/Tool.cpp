#include "update/Tool.h"

#include "platform/PlatformError.h"

ToolResult runTool(const QString& program, const QStringList& arguments,
                   QProcess::ProcessChannelMode channels, std::chrono::milliseconds limit) {
    QProcess process;
    process.setProcessChannelMode(channels);
    if (channels == QProcess::SeparateChannels)
        process.setStandardErrorFile(QProcess::nullDevice());
    // A tool that asks a question (unzip meets an entry twice) reads end of input and gives up
    // instead of waiting for an answer that never comes while the app is blocked on it.
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(-1))
        throw PlatformError(program + QStringLiteral(": ") + process.errorString());
    ToolResult result;
    if (!process.waitForFinished(int(limit.count())) && process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(-1);
        result.timedOut = true;
    }
    result.output = process.readAllStandardOutput();
    if (!result.timedOut && process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    return result;
}
