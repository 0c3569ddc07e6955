#include "device/ShellOut.h"

#include <QProcess>
#include <QStringDecoder>

QString shellOut(const QString& path, const QStringList& arguments) {
    QProcess process;
    process.setProgram(path);
    process.setArguments(arguments);
    // Nothing to read on stdin, so a tool that waits for input cannot hang us.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted())
        return {};
    process.waitForFinished(-1);
    const auto bytes = process.readAllStandardOutput();
    // The output is returned as written, a leading byte-order mark included.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    return decoder.hasError() ? QString() : text;
}
