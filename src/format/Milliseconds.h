#pragma once

#include <QDateTime>
#include <limits>

// later − earlier in milliseconds, saturating instead of overflowing for dates at QDateTime's limits.
inline qint64 millisecondsBetween(const QDateTime& earlier, const QDateTime& later) {
    const qint64 a = later.toMSecsSinceEpoch();
    const qint64 b = earlier.toMSecsSinceEpoch();
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    if (b < 0 && a > max + b)
        return max;
    if (b > 0 && a < min + b)
        return min;
    return a - b;
}
