// vemko-devservice --port N --data DIR [--demo-servers FILE] [--seed-demo]
// The local reference service. Prints the port it listens on as its first line.
#include "Database.h"
#include "DemoServers.h"
#include "Service.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

int stopPipe[2] = {-1, -1};

void onStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(stopPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vemko-devservice"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Вемко VPN: локальный сервис для разработки и тестов"));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("port"), QStringLiteral("порт на 127.0.0.1 (0 — любой свободный)"),
                      QStringLiteral("N")});
    parser.addOption(
        {QStringLiteral("data"), QStringLiteral("папка с базой и version.json"), QStringLiteral("DIR")});
    parser.addOption(
        {QStringLiteral("demo-servers"), QStringLiteral("JSON-файл демо-серверов"), QStringLiteral("FILE")});
    parser.addOption(
        {QStringLiteral("seed-demo"), QStringLiteral("завести демо-аккаунт demo@vemko.test / vemko-demo")});
    parser.process(app);

    bool portOk = false;
    const uint port = parser.value(QStringLiteral("port")).toUInt(&portOk);
    if (!portOk || port > 65535 || parser.value(QStringLiteral("data")).isEmpty()) {
        std::fprintf(stderr,
                     "usage: vemko-devservice --port N --data DIR [--demo-servers FILE] [--seed-demo]\n");
        return 2;
    }
    QString error;
    DemoServers servers;
    if (!servers.load(parser.value(QStringLiteral("demo-servers")), &error)) {
        std::fprintf(stderr, "vemko-devservice: %s\n", qPrintable(error));
        return 1;
    }
    Database db;
    if (!db.open(parser.value(QStringLiteral("data")), &error)) {
        std::fprintf(stderr, "vemko-devservice: %s\n", qPrintable(error));
        return 1;
    }
    Service service(db, servers, parser.value(QStringLiteral("data")));
    const quint16 bound = service.start(quint16(port));
    if (bound == 0) {
        std::fprintf(stderr, "vemko-devservice: cannot listen on 127.0.0.1:%u\n", port);
        return 1;
    }
    if (parser.isSet(QStringLiteral("seed-demo")))
        service.seedDemoAccount(QStringLiteral("demo@vemko.test"), QStringLiteral("vemko-demo"));

    // SIGTERM and SIGINT end the event loop, so SQLite closes cleanly.
    if (::pipe(stopPipe) == 0) {
        std::signal(SIGTERM, onStopSignal);
        std::signal(SIGINT, onStopSignal);
        auto* notifier = new QSocketNotifier(stopPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    }
    std::printf("%u\n", unsigned(bound));
    std::fflush(stdout);
    return app.exec();
}
