#include "format/Format.h"

namespace {

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// The ASCII digits at [from, from + count) of `text` as a number; none when any is not a digit.
std::optional<int> digits(QStringView text, qsizetype from, qsizetype count) {
    if (from < 0 || from + count > text.size())
        return std::nullopt;
    int value = 0;
    for (const QChar c : text.sliced(from, count)) {
        if (!isDigit(c))
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

} // namespace

// An internet date and time: "2026-02-28T12:00:00", a fraction of a second or none, then "Z" or an
// offset such as "+03:00", and nothing after it. Read by hand: it is read on the way to the
// window's first frame, and a regular expression would bring in its engine for this one pattern.
std::optional<QDateTime> parseMoment(const QString& text) {
    const QStringView view(text);
    const auto is = [&view](qsizetype at, char16_t c) {
        return at < view.size() && view[at] == c;
    };
    const auto year = digits(view, 0, 4), month = digits(view, 5, 2), day = digits(view, 8, 2);
    const auto hour = digits(view, 11, 2), minute = digits(view, 14, 2), second = digits(view, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second || !is(4, u'-') || !is(7, u'-') ||
        !(is(10, u'T') || is(10, u't')) || !is(13, u':') || !is(16, u':'))
        return std::nullopt;

    qsizetype at = 19;
    int milliseconds = 0;
    if (is(at, u'.')) {
        const qsizetype first = ++at;
        while (at < view.size() && isDigit(view[at]))
            ++at;
        if (at == first)
            return std::nullopt;
        // The first three digits count, as milliseconds: ".5" is 500.
        for (qsizetype i = first; i < first + 3; ++i)
            milliseconds = milliseconds * 10 + (i < at ? view[i].unicode() - u'0' : 0);
    }

    int offsetSeconds = 0;
    if (is(at, u'Z') || is(at, u'z')) {
        ++at;
    } else if (is(at, u'+') || is(at, u'-')) {
        const int sign = view[at] == u'-' ? -1 : 1;
        const auto hours = digits(view, at + 1, 2), minutes = digits(view, at + 4, 2);
        if (!hours || !minutes || !is(at + 3, u':') || *hours > 23 || *minutes > 59)
            return std::nullopt;
        offsetSeconds = sign * (*hours * 3600 + *minutes * 60);
        at += 6;
    } else {
        return std::nullopt;
    }
    if (at != view.size())
        return std::nullopt;

    const QDate date(*year, *month, *day);
    // QTime rejects hour 24, minute 60 and a leap second alike.
    const QTime time(*hour, *minute, *second, milliseconds);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;

    return QDateTime(date, time, Qt::UTC).addSecs(-offsetSeconds);
}
