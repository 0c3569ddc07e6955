// Direct vs SOCKS vs the system-wide tunnel, in the namespace test network, same run: time to
// first byte of small requests, a bounded 50 MiB download, and the engine's CPU per MiB; then how
// long the helper takes to put its table back after "nft flush ruleset". SOCKS twice: the bare
// engine with a plain SOCKS document, and the app's SOCKS mode itself (the tunnel host, given the
// document the app writes from the same entry: sniffing, routing, resolver), which the system-wide
// mode is measured against.
//
// Every engine here runs in a session of its own, as the tunnel host's and the helper's do. Where
// the kernel groups processes by session for scheduling (autogroup), an engine in the bench's
// session shares its group with curl and the web server, is woken less often and reads bigger
// chunks: it spends about a third less CPU per MiB than in a session of its own. Measured in
// different sessions, the modes would differ by that and not by what they do.
//
// Needs root (it builds network namespaces; nothing touches the machine's own network).
//   build/bench/bench_systemwide [requests=20] [downloads=3] [rounds=5]
#include "Figures.h"
#include "engine/Discovery.h"
#include "engine/Document.h"
#include "engine/Server.h"
#include "netd/Document.h"
#include "netd/Nft.h"
#include "netd/Ports.h"
#include "support/NetnsTopology.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sched.h>
#include <thread>
#include <unistd.h>

using namespace NetnsTopology;
using bench::loadAverage;

namespace {
double median(std::vector<double> values) {
    return bench::spread(std::move(values)).median;
}
} // namespace

namespace {

constexpr int megabytes = 50;

// CPU time of all the process's threads, to the nanosecond (the scheduler's own account; the clock
// ticks of /proc/PID/stat would be a tenth of one download's figure).
double cpuSeconds(qint64 pid) {
    if (pid <= 0)
        return 0;
    double seconds = 0;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks + QLatin1Char('/') + task + QStringLiteral("/schedstat"));
        if (stat.open(QIODevice::ReadOnly))
            seconds += stat.readAll().split(' ').value(0).toDouble() / 1e9;
    }
    return seconds;
}

// The document the app hands its tunnel host for the SOCKS mode, from the same entry (the host reads
// the server from it and writes the engine's document again, as it does for the app).
QByteArray socksModeDocument(const QByteArray& entry, const engine::EngineInfo& v2ray) {
    const auto server = engine::readServer(std::string_view(entry.constData(), size_t(entry.size())));
    if (!std::holds_alternative<engine::Server>(server))
        return {};
    return QByteArray::fromStdString(
        engine::writeDocument(std::get<engine::Server>(server), v2ray, engine::Listeners{}));
}

// The engine document the helper writes from the same entry, for the capture row.
QByteArray helperDocument(const QByteArray& entry, const engine::EngineInfo& v2ray) {
    const auto document = netd::engineDocument(entry.toStdString(), v2ray);
    return std::holds_alternative<std::string>(document)
               ? QByteArray::fromStdString(std::get<std::string>(document))
               : QByteArray();
}

struct Figures {
    double ttfbMs = 0;
    double mibPerSecond = 0;
    double engineMsPerMib = 0;
};

Figures measure(const QStringList& proxy, int requests, int downloads, qint64 enginePid) {
    std::vector<double> ttfb, rate, cpu;
    const QString url = "http://" + httpHost + "/";
    for (int i = 0; i < requests; ++i) {
        const Result r =
            run(QStringList{"curl", "-sS", "-m", "5", "-o", "/dev/null", "-w", "%{time_starttransfer}"} +
                proxy + QStringList{url});
        if (r.exitCode == 0)
            ttfb.push_back(r.out.toDouble() * 1000);
    }
    for (int i = 0; i < downloads; ++i) {
        const double before = cpuSeconds(enginePid);
        const Result r = run(QStringList{"curl", "-sS", "-m", "60", "-o", "/dev/null", "-w",
                                         "%{time_total} %{size_download}"} +
                             proxy + QStringList{url + "blob?mb=" + QString::number(megabytes)});
        const QList<QByteArray> parts = r.out.split(' ');
        const double mib = parts.value(1).toDouble() / (1 << 20);
        if (r.exitCode == 0 && mib > 0) {
            rate.push_back(mib / parts.value(0).toDouble());
            cpu.push_back((cpuSeconds(enginePid) - before) * 1000 / mib);
        }
    }
    return {median(ttfb), median(rate), median(cpu)};
}

void print(const char* mode, const Figures& f) {
    std::printf("%-9s ttfb %6.2f ms   %3d MiB at %7.1f MiB/s   engine %5.2f ms CPU per MiB\n", mode, f.ttfbMs,
                megabytes, f.mibPerSecond, f.engineMsPerMib);
}

// Flushes the client's ruleset (a firewall reload) and times until the table is back, from a
// thread inside the client namespace.
std::vector<double> restoreTimes(int rounds) {
    std::vector<double> times;
    std::thread([&] {
        const int ns = ::open(QFile::encodeName("/run/netns/" + client).constData(), O_RDONLY | O_CLOEXEC);
        if (ns < 0 || ::setns(ns, CLONE_NEWNET) != 0)
            return;
        ::close(ns);
        netd::Nft nft;
        for (int round = 0; round < rounds; ++round) {
            nft.run("flush ruleset\n");
            const auto start = std::chrono::steady_clock::now();
            const auto limit = start + std::chrono::seconds(5);
            while (nft.listing("inet vemko").empty() && std::chrono::steady_clock::now() < limit) {
            }
            times.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }).join();
    return times;
}

// Waits up to 5 s for a TCP listener on 127.0.0.1:`port` in the client namespace; false if none came.
bool waitForListener(int port) {
    const QString listening = QStringLiteral("ss -ltn | grep -q '127.0.0.1:%1 '").arg(port);
    for (int i = 0; i < 100; ++i) {
        if (run({"sh", "-c", listening}).exitCode == 0)
            return true;
        QThread::msleep(50);
    }
    return false;
}

// Starts `command` in the client namespace, in a session of its own as every engine here runs (the
// tunnel host's own setsid then finds it done), with `input` on its standard input.
void startInClient(QProcess& process, const QStringList& command, const QByteArray& input = {}) {
    process.start("ip", QStringList{"netns", "exec", client, "setsid"} + command);
    process.waitForStarted();
    // Written now: nothing here runs the event loop that would write it later.
    process.write(input);
    process.waitForBytesWritten(5000);
    process.closeWriteChannel();
}

// The engine alone in the client namespace with `configFile`, no rules, asked through its SOCKS
// port; with `tracked`, measured again with connection tracking on (an empty nat chain turns it on
// for the namespace): how much of the system mode's cost is the kernel's tracking of every flow.
Figures socksMode(const QString& configFile, int requests, int downloads, Figures* tracked = nullptr) {
    QProcess engine;
    startInClient(engine, {"v2ray", "-config", configFile});
    waitForListener(10808);
    const qint64 enginePid = run({"pgrep", "-f", "-n", "v2ray -config " + configFile}, {}, std::nullopt)
                                 .out.trimmed()
                                 .toLongLong();
    const Figures figures = measure({"-x", "socks5h://127.0.0.1:10808"}, requests, downloads, enginePid);
    if (tracked) {
        run({"nft", "-f", "-"},
            "table ip vemko_bench { chain nat { type nat hook output priority -100; } }\n");
        *tracked = measure({"-x", "socks5h://127.0.0.1:10808"}, 0, downloads, enginePid);
        run({"nft", "delete", "table", "ip", "vemko_bench"});
    }
    engine.terminate();
    engine.waitForFinished(5000);
    return figures;
}

// The app's SOCKS mode as users run it: the tunnel host, given the document the app writes, starts
// the engine and watches it; curl asks through its SOCKS port.
Figures appSocksMode(const QByteArray& document, int requests, int downloads) {
    const QTemporaryDir runtime;
    QProcess host;
    startInClient(host,
                  {QCoreApplication::applicationDirPath() + "/../bin/vemko-tunnel", "--runtime-dir",
                   runtime.filePath("run")},
                  document);
    Figures figures;
    if (waitForListener(10808)) {
        // "ip netns exec" and setsid become the host: its one child is the engine.
        const qint64 enginePid = run({"pgrep", "-P", QString::number(host.processId())}, {}, std::nullopt)
                                     .out.trimmed()
                                     .toLongLong();
        figures = measure({"-x", "socks5h://127.0.0.1:10808"}, requests, downloads, enginePid);
    }
    host.terminate();
    host.waitForFinished(5000);
    return figures;
}

// The system mode's capture alone: the document the helper writes, its engine as its own user, and
// one nat rule sending the test host's HTTP to the redirect entry; no kill switch, no helper.
// Beside "system" it separates the capture's own cost from what the helper adds.
Figures captureOnly(const QByteArray& document, int downloads) {
    QProcess engine;
    startInClient(engine,
                  {"setpriv", "--reuid", "vemko-engine", "--regid", "vemko-engine", "--clear-groups", "v2ray",
                   "-config", "stdin:"},
                  document);
    const QString port = QString::number(netd::preferredPorts.redirect);
    // Without its engine the rule would send nowhere, and without the rule curl would go direct:
    // either way the figures would not be the capture's.
    if (!waitForListener(netd::preferredPorts.redirect)) {
        engine.kill();
        engine.waitForFinished(5000);
        return {};
    }
    const Result rule = run({"nft", "-f", "-"},
                            ("table ip vemko_capture {\n chain out {\n  type nat hook output priority -100;\n"
                             "  meta skuid \"vemko-engine\" return\n  ip daddr " +
                             httpHost + " tcp dport 80 redirect to :" + port + "\n }\n}\n")
                                .toUtf8());
    if (rule.exitCode != 0) {
        engine.kill();
        engine.waitForFinished(5000);
        return {};
    }
    const qint64 enginePid =
        run({"pgrep", "-n", "-u", "vemko-engine", "-f", "v2ray -config stdin:"}, {}, std::nullopt)
            .out.trimmed()
            .toLongLong();
    const Figures figures = measure({}, 0, downloads, enginePid);
    run({"nft", "delete", "table", "ip", "vemko_capture"});
    engine.terminate();
    engine.waitForFinished(5000);
    return figures;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int requests = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    const int downloads = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    const int rounds = argc > 3 ? std::max(1, atoi(argv[3])) : 5;
    if (const auto why = unavailable()) {
        std::printf("bench_systemwide: %s\n", qPrintable(*why));
        return 0;
    }
    QString message;
    if (!up(&message)) {
        std::printf("topology failed: %s\n", qPrintable(message));
        down();
        return 1;
    }
    std::printf("# %d CPUs, load average %s; %d rounds, each: %d requests and %d x %d MiB per mode\n",
                QThread::idealThreadCount(), qPrintable(loadAverage()), rounds, requests, downloads,
                megabytes);
    const Figures direct = measure({}, requests, downloads, 0);
    print("direct", direct);

    // The modes take turns, round after round, and each round's ratio is taken between its own
    // figures: what else the machine does then weighs on all alike.
    QTemporaryDir dir;
    QFile config(dir.filePath("client.json"));
    config.open(QIODevice::WriteOnly);
    const QByteArray entry = clientDocument(vpnServer1);
    config.write(entry);
    config.close();
    const QString helper = QCoreApplication::applicationDirPath() + "/../bin/vemko-netd";
    run({"useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", "vemko-engine"}, {},
        std::nullopt);
    // The engine every mode here runs, as the engine layer describes it, and the two documents.
    const auto v2ray = engine::discoverForRoot({"/usr/bin/v2ray"}).engine;
    const QByteArray appDocument = v2ray ? socksModeDocument(entry, *v2ray) : QByteArray();
    const QByteArray captureDocument = v2ray ? helperDocument(entry, *v2ray) : QByteArray();
    if (appDocument.isEmpty() || captureDocument.isEmpty()) {
        std::printf("the documents could not be written (no v2ray, or the entry refused)\n");
        down();
        return 1;
    }
    std::vector<double> ttfbRatios, throughputRatios, bareRatios;
    for (int round = 0; round < rounds; ++round) {
        Figures tracked;
        const Figures socks = socksMode(config.fileName(), requests, downloads, &tracked);
        print("socks", socks);
        print("socks+ct", tracked);
        const Figures appSocks = appSocksMode(appDocument, requests, downloads);
        print("app socks", appSocks);
        if (appSocks.mibPerSecond == 0) {
            std::printf("the tunnel host's SOCKS mode did not come up or carried nothing\n");
            break;
        }
        print("capture", captureOnly(captureDocument, downloads));

        // System-wide: vemko-netd's rules and engine; curl knows nothing of a proxy.
        const Result started = run({helper, "up"}, entry);
        if (started.exitCode != 0) {
            std::printf("vemko-netd up failed: %s\n", started.err.constData());
            break;
        }
        const Figures system = measure({}, requests, downloads, helperEnginePid());
        print("system", system);
        ttfbRatios.push_back(system.ttfbMs / appSocks.ttfbMs);
        throughputRatios.push_back(appSocks.mibPerSecond / system.mibPerSecond);
        bareRatios.push_back(socks.mibPerSecond / system.mibPerSecond);
        if (round + 1 == rounds) {
            const std::vector<double> restored = restoreTimes(10);
            if (!restored.empty())
                std::printf("flushed table back in %.2f ms median, %.2f ms at most (goal: within 1 s)\n",
                            median(restored), *std::max_element(restored.begin(), restored.end()));
        }
        run({helper, "down"});
    }
    if (!throughputRatios.empty()) {
        std::sort(ttfbRatios.begin(), ttfbRatios.end());
        std::sort(throughputRatios.begin(), throughputRatios.end());
        std::sort(bareRatios.begin(), bareRatios.end());
        std::printf(
            "system / app's socks mode by round (min/median/max): ttfb %.2f / %.2f / %.2f x, time per "
            "MiB %.2f / %.2f / %.2f x (goal: within 1.1 x); load average %s\n",
            ttfbRatios.front(), median(ttfbRatios), ttfbRatios.back(), throughputRatios.front(),
            median(throughputRatios), throughputRatios.back(), qPrintable(loadAverage()));
        std::printf("  time per MiB against the bare engine's plain SOCKS document: %.2f / %.2f / %.2f x\n",
                    bareRatios.front(), median(bareRatios), bareRatios.back());
    }
    down();
    return 0;
}
