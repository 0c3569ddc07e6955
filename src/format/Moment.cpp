#include "format/Format.h"

#include <QRegularExpression>

namespace {

const QRegularExpression& internetDateTime() {
    static const QRegularExpression pattern(
        QStringLiteral(R"(^(\d{4})-(\d{2})-(\d{2})[Tt](\d{2}):(\d{2}):(\d{2})(?:\.(\d+))?)"
                       R"((?:([Zz])|([+-])(\d{2}):(\d{2}))$)"));
    return pattern;
}

} // namespace

std::optional<QDateTime> parseMoment(const QString& text) {
    const auto match = internetDateTime().match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const auto number = [&match](int group) {
        return match.capturedView(group).toInt();
    };

    const QDate date(number(1), number(2), number(3));
    // QTime rejects hour 24, minute 60 and a leap second alike.
    const int milliseconds =
        match.capturedView(7).left(3).toString().leftJustified(3, QLatin1Char('0')).toInt();
    const QTime time(number(4), number(5), number(6), milliseconds);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;

    int offsetSeconds = 0;
    if (!match.hasCaptured(8)) {
        const int hours = number(10);
        const int minutes = number(11);
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        offsetSeconds = (hours * 3600 + minutes * 60) * (match.capturedView(9) == u"-" ? -1 : 1);
    }
    return QDateTime(date, time, Qt::UTC).addSecs(-offsetSeconds);
}
