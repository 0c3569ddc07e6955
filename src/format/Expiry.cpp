#include "format/Format.h"
#include "format/Milliseconds.h"

namespace {

constexpr qint64 msPerMinute = qint64{60} * 1000;
constexpr qint64 msPerHour = 60 * msPerMinute;
constexpr qint64 msPerDay = 24 * msPerHour;

// Milliseconds from now to the expiry moment (negative once it has passed).
std::optional<qint64> millisecondsLeft(const std::optional<QString>& expireAt, const Clock& clock) {
    if (!expireAt)
        return std::nullopt;
    const auto moment = parseMoment(*expireAt);
    const QDateTime now = clock.now();
    if (!moment || !now.isValid())
        return std::nullopt;
    return millisecondsBetween(now, *moment);
}

} // namespace

QString formatExpire(const std::optional<QString>& expireAt) {
    const auto moment = expireAt ? parseMoment(*expireAt) : std::nullopt;
    if (!moment)
        return QStringLiteral("нет подписки");
    return moment->toLocalTime().toString(QStringLiteral("dd.MM.yyyy"));
}

qint64 daysLeft(const std::optional<QString>& expireAt, const Clock& clock) {
    const auto left = millisecondsLeft(expireAt, clock);
    if (!left || *left < msPerDay)
        return 0;
    return *left / msPerDay;
}

QString humanLeft(const std::optional<QString>& expireAt, const Clock& clock) {
    const auto left = millisecondsLeft(expireAt, clock);
    if (!left)
        return QStringLiteral("подписка не активна");
    if (*left <= 0)
        return QStringLiteral("подписка закончилась");
    const qint64 days = *left / msPerDay;
    const qint64 hours = *left % msPerDay / msPerHour;
    const qint64 minutes = *left % msPerHour / msPerMinute;
    if (days >= 1)
        return QStringLiteral("%1 %2 %3 ч")
            .arg(QString::number(days),
                 plural(days, QStringLiteral("день"), QStringLiteral("дня"), QStringLiteral("дней")),
                 QString::number(hours));
    return QStringLiteral("%1 ч %2 мин").arg(QString::number(hours), QString::number(minutes));
}
