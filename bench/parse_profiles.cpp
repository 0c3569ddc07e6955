// Api::parseProfiles against a bare QJsonDocument::fromJson of the same document, for documents of
// 100, 1,000 and 10,000 server configurations.

#include "GeneratedConfigs.h"
#include "service/Api.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

struct Timing {
    double wallMs;
    double cpuMs; // this thread's CPU time: steadier than wall time on a busy machine
};

double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

template <typename F> Timing median(int runs, F&& work) {
    std::vector<double> wall;
    std::vector<double> cpu;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        const double cpuStart = threadCpuMs();
        work();
        cpu.push_back(threadCpuMs() - cpuStart);
        wall.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    return {wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::printf("%8s %9s | %12s %12s %7s | %12s %12s %7s\n", "configs", "size KB", "fromJson ms", "parse ms",
                "ratio", "fromJson cpu", "parse cpu", "ratio");
    for (int count : {100, 1000, 10000}) {
        const QByteArray bytes = generatedConfigs(count, 50);
        const QString text = QString::fromUtf8(bytes);
        const int runs = count >= 10000 ? 11 : 41;
        qsizetype sink = 0;
        const auto bare = [&] {
            sink += QJsonDocument::fromJson(bytes).array().size();
        };
        const auto parse = [&] {
            sink += Api::parseProfiles(text).size();
        };
        bare(); // warm-up, so neither side pays for first touches
        parse();
        const auto bareTime = median(runs, bare);
        const auto parseTime = median(runs, parse);
        std::printf("%8d %9lld | %12.3f %12.3f %7.3f | %12.3f %12.3f %7.3f\n", count,
                    (long long)(bytes.size() / 1024), bareTime.wallMs, parseTime.wallMs,
                    parseTime.wallMs / bareTime.wallMs, bareTime.cpuMs, parseTime.cpuMs,
                    parseTime.cpuMs / bareTime.cpuMs);
        if (sink == 0)
            std::puts("nothing parsed");
    }
    return 0;
}
