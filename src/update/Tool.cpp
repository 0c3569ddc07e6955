#include "update/Tool.h"

#include "platform/Clock.h"
#include "platform/MainTask.h"
#include "platform/PlatformError.h"

#include <QCoroProcess>
#include <QPointer>
#include <QProcess>
#include <memory>

namespace {

// Kills the tool once `limit` has passed, unless it has ended (and gone) by then.
QCoro::Task<> killWhenLate(Clock& clock, std::chrono::milliseconds limit, QPointer<QProcess> process,
                           std::shared_ptr<bool> late) {
    co_await clock.sleep(limit);
    if (process && process->state() != QProcess::NotRunning) {
        *late = true;
        process->kill();
    }
}

} // namespace

QCoro::Task<ToolResult> runTool(Clock& clock, QString program, QStringList arguments,
                                std::chrono::milliseconds limit,
                                std::function<void(const QByteArray&)> onLine) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A tool that asks a question reads end of input and gives up instead of waiting for an answer.
    process.setStandardInputFile(QProcess::nullDevice());
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &process, [&process, &onLine] {
        while (process.canReadLine()) {
            const QByteArray line = process.readLine().trimmed();
            if (onLine)
                onLine(line);
        }
    });
    if (!co_await qCoro(process).start(program, arguments, QIODevice::ReadOnly))
        throw PlatformError(program + QStringLiteral(": ") + process.errorString());
    const auto late = std::make_shared<bool>(false);
    startMainTask(killWhenLate(clock, limit, &process, late));
    co_await qCoro(process).waitForFinished(-1);
    ToolResult result;
    result.timedOut = *late;
    if (!result.timedOut && process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    co_return result;
}
