#pragma once

// The figures every benchmark prints: spreads of runs, the machine's load, a process's memory.

#include <QFile>
#include <QString>
#include <algorithm>
#include <vector>

namespace bench {

struct Spread {
    double min = 0, median = 0, max = 0;
};

inline Spread spread(std::vector<double> values) {
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return {values.front(), values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2,
            values.back()};
}

inline QString loadAverage() {
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(u' ', 0, 2)
                                          : QStringLiteral("?");
}

inline double rssMb(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

} // namespace bench
