#include "update/Tool.h"

#include "platform/PlatformError.h"

int runTool(const QString& program, const QStringList& arguments, QProcess::ProcessChannelMode channels) {
    QProcess process;
    process.setProcessChannelMode(channels);
    // A tool that asks a question (unzip meets an entry twice) reads end of input and gives up
    // instead of waiting for an answer that never comes while the app is blocked on it.
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(-1))
        throw PlatformError(program + QStringLiteral(": ") + process.errorString());
    process.waitForFinished(-1);
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}
