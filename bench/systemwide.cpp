// Direct vs SOCKS vs the system-wide tunnel, in the namespace test network, same run: time to
// first byte of small requests, a bounded 50 MiB download, and the engine's CPU per MiB; then how
// long the helper takes to put its table back after "nft flush ruleset".
// Needs root (it builds network namespaces; nothing touches the machine's own network).
//   build/bench/bench_systemwide [requests=20] [downloads=3] [rounds=5]
#include "Figures.h"
#include "netd/Nft.h"
#include "support/NetnsTopology.h"

#include <QCoreApplication>
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

double cpuSeconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
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
    std::printf("%-8s ttfb %6.2f ms   %3d MiB at %7.1f MiB/s   engine %5.2f ms CPU per MiB\n", mode, f.ttfbMs,
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

qint64 waitForSocks() {
    for (int i = 0; i < 100; ++i) {
        if (run({"sh", "-c", "ss -ltn | grep -q '127.0.0.1:10808 '"}).exitCode == 0)
            return 1;
        QThread::msleep(50);
    }
    return 0;
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

    // The two modes take turns, round after round, and each round's ratio is taken between its own
    // two figures: what else the machine does then weighs on both alike.
    QTemporaryDir dir;
    QFile config(dir.filePath("client.json"));
    config.open(QIODevice::WriteOnly);
    config.write(clientDocument(vpnServer1));
    config.close();
    const QString helper = QCoreApplication::applicationDirPath() + "/../bin/vemko-netd";
    run({"useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", "vemko-engine"}, {},
        std::nullopt);
    std::vector<double> ttfbRatios, throughputRatios;
    for (int round = 0; round < rounds; ++round) {
        // SOCKS: the engine alone in the client namespace, no rules.
        QProcess engine;
        engine.start("ip", {"netns", "exec", client, "v2ray", "-config", config.fileName()});
        engine.waitForStarted();
        waitForSocks();
        const qint64 enginePid =
            run({"pgrep", "-f", "-n", "v2ray -config " + config.fileName()}, {}, std::nullopt)
                .out.trimmed()
                .toLongLong();
        const Figures socks = measure({"-x", "socks5h://127.0.0.1:10808"}, requests, downloads, enginePid);
        print("socks", socks);
        // The same with connection tracking on (an empty nat chain turns it on for the namespace):
        // how much of the system mode's cost is the kernel's tracking of every flow, not our rules.
        run({"nft", "-f", "-"},
            "table ip vemko_bench { chain nat { type nat hook output priority -100; } }\n");
        print("socks+ct", measure({"-x", "socks5h://127.0.0.1:10808"}, 0, downloads, enginePid));
        run({"nft", "delete", "table", "ip", "vemko_bench"});
        engine.terminate();
        engine.waitForFinished(5000);

        // System-wide: vemko-netd's rules and engine; curl knows nothing of a proxy.
        const Result started = run({helper, "up"}, clientDocument(vpnServer1));
        if (started.exitCode != 0) {
            std::printf("vemko-netd up failed: %s\n", started.err.constData());
            break;
        }
        const Figures system = measure({}, requests, downloads, helperEnginePid());
        print("system", system);
        ttfbRatios.push_back(system.ttfbMs / socks.ttfbMs);
        throughputRatios.push_back(socks.mibPerSecond / system.mibPerSecond);
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
        std::printf("system / socks by round (min/median/max): ttfb %.2f / %.2f / %.2f x, time per MiB "
                    "%.2f / %.2f / %.2f x (goal: within 1.1 x); load average %s\n",
                    ttfbRatios.front(), median(ttfbRatios), ttfbRatios.back(), throughputRatios.front(),
                    median(throughputRatios), throughputRatios.back(), qPrintable(loadAverage()));
    }
    down();
    return 0;
}
