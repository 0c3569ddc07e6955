// vemko-tunnel: carries the tunnel for the app, outliving it as a system tunnel would.
//
//   vemko-tunnel [--runtime-dir DIR]              the tunnel document arrives on stdin
//   vemko-tunnel [--runtime-dir DIR] --saved [--config-file FILE]
//                                                 the document saved by the app is used
//   --desktop-proxy                               also the HTTP entry; the desktop's proxy
//                                                 settings are put back when the host ends
//   vemko-tunnel --proxy-guard [--runtime-dir DIR]  the host's guard (ProxyGuard)
//
// The document holds server credentials: it never travels on the command line.
#include "ProxyGuard.h"
#include "StopSignals.h"
#include "TunnelHost.h"
#include "platform/OwnFile.h"
#include "platform/ProcessFiles.h"
#include "platform/TunnelPaths.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <unistd.h>

namespace {

QByteArray readStdin() {
    if (::isatty(STDIN_FILENO))
        return {};
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly))
        return {};
    return input.read(qint64{16} * 1024 * 1024);
}

} // namespace

int main(int argc, char* argv[]) {
    // Our own session: a terminal's Ctrl-C or the app's process group never reaches the tunnel.
    ::setsid();
    ProcessFiles::ignoreFileSizeSignal();
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption runtimeDir("runtime-dir", "State folder.", "dir",
                                        TunnelPaths::defaultRuntimeDir());
    const QCommandLineOption saved("saved", "Run the saved tunnel document instead of stdin.");
    const QCommandLineOption configFile("config-file", "Saved tunnel configuration.", "file",
                                        TunnelPaths::defaultConfigFile());
    const QCommandLineOption desktopProxy("desktop-proxy", "Carry the desktop's proxy settings too.");
    const QCommandLineOption proxyGuard("proxy-guard",
                                        "Restore the desktop's proxy settings after the host.");
    parser.addOptions({runtimeDir, saved, configFile, desktopProxy, proxyGuard});
    parser.addHelpOption();
    parser.process(app);
    if (parser.isSet(proxyGuard))
        return ProxyGuard::run(parser.value(runtimeDir));

    QByteArray document = parser.isSet(saved) ? QByteArray() : readStdin();
    if (document.trimmed().isEmpty())
        document = TunnelPaths::savedEngineDocument(parser.value(configFile));

    const QString folder = parser.value(runtimeDir);
    if (!TunnelPaths::ensurePrivateDir(folder)) {
        std::fprintf(stderr, "vemko-tunnel: cannot use the runtime folder %s\n", qPrintable(folder));
        return 3;
    }

    TunnelHost host(folder, std::move(document), parser.isSet(desktopProxy));
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &host, &TunnelHost::stop);
    QObject::connect(&host, &TunnelHost::finished, &app, &QCoreApplication::exit, Qt::QueuedConnection);
    host.run();
    return app.exec();
}
