#include "format/Format.h"
#include "format/Milliseconds.h"

#include <algorithm>

QString clock(const std::optional<QDateTime>& since, const QDateTime& now) {
    if (!since || !since->isValid() || !now.isValid())
        return {};
    const qint64 seconds = std::max<qint64>(0, millisecondsBetween(*since, now) / 1000);
    const qint64 hours = seconds / 3600;
    const auto twoDigits = [](qint64 value) {
        return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
    };
    QString minutesAndSeconds =
        twoDigits(seconds % 3600 / 60) + QLatin1Char(':') + twoDigits(seconds % 60);
    if (hours == 0)
        return minutesAndSeconds;
    return QString::number(hours) + QLatin1Char(':') + minutesAndSeconds;
}
