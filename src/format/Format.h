#pragma once

#include "platform/Clock.h"

#include <QDateTime>
#include <QString>
#include <optional>

// Short Russian texts for the subscription's end, the time left and the connected time.
// None of them fails: absent or unreadable input has its own fixed result.

// An expiry text read as a moment: RFC 3339 / ISO 8601 internet date-time with or without
// fractional seconds. A text without a time or without a zone designator is no moment.
std::optional<QDateTime> parseMoment(const QString& text);

// "dd.MM.yyyy" in the local time zone, or "нет подписки".
QString formatExpire(const std::optional<QString>& expireAt);

// Whole days left, truncated; 0 when less than a day is left, the moment has passed or is unreadable.
qint64 daysLeft(const std::optional<QString>& expireAt, const Clock& clock = Clock::system());

// "5 дней 3 ч", "2 ч 7 мин", "подписка закончилась" or "подписка не активна".
QString humanLeft(const std::optional<QString>& expireAt, const Clock& clock = Clock::system());

// Time connected: "07:05" below an hour, else "1:02:09" (hours not wrapped at 24); "" without `since`.
QString clock(const std::optional<QDateTime>& since, const QDateTime& now);

// The Russian plural rule: `one` for 1, 21, 101…, `few` for 2–4, 22–24…, `many` for the rest
// (0, 5–20, 25–30, 111–114…).
QString plural(qint64 n, const QString& one, const QString& few, const QString& many);
