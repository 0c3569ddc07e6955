// Api::parseProfiles against a bare QJsonDocument::fromJson of the same document, for documents of
// 100, 1,000 and 10,000 server configurations.

#include "service/Api.h"
#include "support/GeneratedConfigs.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

template<typename F>
double medianMs(int runs, F&& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::printf("%8s %10s %14s %14s %7s\n", "configs", "size KB", "fromJson ms", "parse ms", "ratio");
    for (int count : {100, 1000, 10000}) {
        const QByteArray bytes = generatedConfigs(count, 50);
        const QString text = QString::fromUtf8(bytes);
        const int runs = count >= 10000 ? 9 : 31;
        qsizetype sink = 0;
        // Interleaved warm-up so neither side pays for first touches.
        sink += QJsonDocument::fromJson(bytes).array().size() + Api::parseProfiles(text).size();
        const double bare = medianMs(runs, [&] { sink += QJsonDocument::fromJson(bytes).array().size(); });
        const double parse = medianMs(runs, [&] { sink += Api::parseProfiles(text).size(); });
        std::printf("%8d %10lld %14.3f %14.3f %7.3f\n", count, (long long)(bytes.size() / 1024), bare, parse,
                    parse / bare);
        if (sink == 0)
            std::puts("");
    }
    return 0;
}
