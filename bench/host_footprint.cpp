// vemko-tunnel on its own: the time from its start to "connected" in its status file (the engine
// listens on 127.0.0.1:10808), and its resident memory while the engine runs (VmRSS, and the part
// of it that is its own rather than pages of shared files, RssAnon). Ten runs; no server needed.
//
//   bench_host_footprint [path/to/vemko-tunnel]

#include "platform/TunnelHostState.h"
#include "tunnel-host/EngineFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <cstdio>

using namespace engine_fixture;

namespace {

constexpr int kRuns = 10;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double statusKb(qint64 pid, const QByteArray& field) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').first().toDouble();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString host = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                  : QCoreApplication::applicationDirPath() + "/../bin/vemko-tunnel";
    QTemporaryDir home;
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.path() + "/cache"));
    const QString runtimeDir = home.path() + "/run";
    // A vmess server nobody answers at: the engine listens all the same.
    const QByteArray document =
        text(QJsonObject{{"outbounds", serverAt({}, 9, QUuid::createUuid().toString(QUuid::WithoutBraces))
                                           .config.value("outbounds")}})
            .toUtf8();
    QFile input(home.path() + "/document.json"); // as from the app's memory file: all there at once
    if (!input.open(QIODevice::WriteOnly) || input.write(document) != document.size())
        return 1;
    input.close();
    if (portAccepts(10808)) {
        std::fprintf(stderr, "port 10808 is in use\n");
        return 1;
    }

    std::vector<double> connected, rss, own;
    for (int run = 0; run < kRuns; ++run) {
        QProcess process;
        QElapsedTimer took;
        took.start();
        process.setStandardInputFile(input.fileName());
        process.start(host, {"--runtime-dir", runtimeDir});
        const auto up = [&] {
            const auto state = HostFiles::readState(runtimeDir);
            return state && state->pid == process.processId() && state->phase == HostState::Phase::Connected;
        };
        while (!up() && took.elapsed() < 15000)
            QThread::usleep(200);
        if (!up()) {
            std::fprintf(stderr, "run %d: the host did not report connected\n", run);
            return 1;
        }
        connected.push_back(took.nsecsElapsed() / 1e6);
        QThread::msleep(500); // settled: only the event loop left
        rss.push_back(statusKb(process.processId(), "VmRSS"));
        own.push_back(statusKb(process.processId(), "RssAnon"));
        ::kill(pid_t(process.processId()), SIGTERM);
        process.waitForFinished(10000);
        while (portAccepts(10808))
            QThread::msleep(10);
    }
    std::printf("vemko-tunnel, %d runs: start to connected %.1f ms median (%.1f to %.1f); resident %.0f kB "
                "(own %.0f kB) with the engine running\n",
                kRuns, median(connected), *std::min_element(connected.begin(), connected.end()),
                *std::max_element(connected.begin(), connected.end()), median(rss), median(own));
    return 0;
}
