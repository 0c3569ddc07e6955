#include "format/Format.h"
#include "support/VirtualClock.h"

#include <QTest>
#include <ctime>
#include <limits>

namespace {
const QDateTime start(QDate(2026, 1, 15), QTime(12, 0), Qt::UTC);
const QString inactive = u"подписка не активна"_qs;
const QString ended = u"подписка закончилась"_qs;
} // namespace

class TestFormat : public QObject {
    Q_OBJECT

    static void row(const char* name, std::optional<QString> expireAt, const QString& expire, qint64 days,
                    const QString& left) {
        QTest::newRow(name) << expireAt << expire << days << left;
    }

private slots:
    void initTestCase() {
        // Three hours ahead of UTC all year (no tzdata needed), so dates near midnight UTC move.
        qputenv("TZ", "MSK-3");
        tzset();
    }

    // The expiry date, the whole days left and the time left, at a fixed virtual time.
    void expiry_data() {
        QTest::addColumn<std::optional<QString>>("expireAt");
        QTest::addColumn<QString>("expire");
        QTest::addColumn<qint64>("days");
        QTest::addColumn<QString>("left");
        const QString none = u"нет подписки"_qs;
        row("absent", std::nullopt, none, 0, inactive);
        for (const char* bad :
             {"soon", "", "2025-03-01", "2025-03-01T12:00:00", "2025-03-01 12:00:00Z", "2025-13-01T12:00:00Z",
              "2025-02-30T12:00:00Z", "2025-03-01T24:00:00Z", "2025-03-01T12:00:00+24:00",
              "2025-03-01T12:00:00.Z", "99999-03-01T12:00:00Z", "2025-03-01T12:00:00Zx",
              "2025-03-01T12:00:00+05:0", "2025-03-01T12:00:00+0500", "2025-03-01T12:00:00-05:60",
              "2025-03-01T1:00:00Z", "2025-03-01T12:00:00+05:00\n"})
            row(bad, QString::fromLatin1(bad), none, 0, inactive);
        row("non-ASCII digits", u"２０２５-03-01T12:00:00Z"_qs, none, 0, inactive);
        row("plain", u"2025-03-01T12:00:00Z"_qs, u"01.03.2025"_qs, 0, ended);
        row("long fraction", u"2025-03-01T12:00:00.123456789Z"_qs, u"01.03.2025"_qs, 0, ended);
        row("next day locally", u"2025-02-28T22:30:00Z"_qs, u"01.03.2025"_qs, 0, ended);
        row("offset east", u"2025-03-01T00:30:00+05:00"_qs, u"28.02.2025"_qs, 0, ended);
        row("right now", u"2026-01-15T12:00:00Z"_qs, u"15.01.2026"_qs, 0, ended);
        row("1 ms left", u"2026-01-15T12:00:00.001Z"_qs, u"15.01.2026"_qs, 0, u"0 ч 0 мин"_qs);
        row("2 h 7 min", u"2026-01-15T14:07:59.999Z"_qs, u"15.01.2026"_qs, 0, u"2 ч 7 мин"_qs);
        row("a day less 1 ms", u"2026-01-16T11:59:59.999Z"_qs, u"16.01.2026"_qs, 0, u"23 ч 59 мин"_qs);
        row("exactly a day", u"2026-01-16T12:00:00Z"_qs, u"16.01.2026"_qs, 1, u"1 день 0 ч"_qs);
        row("offset, 29 h", u"2026-01-16T20:00:00+03:00"_qs, u"16.01.2026"_qs, 1, u"1 день 5 ч"_qs);
        row("5 days 3 h", u"2026-01-20T15:30:00Z"_qs, u"20.01.2026"_qs, 5, u"5 дней 3 ч"_qs);
        row("21 days", u"2026-02-05T12:00:00Z"_qs, u"05.02.2026"_qs, 21, u"21 день 0 ч"_qs);
        row("year 9999", u"9999-06-01T12:00:00Z"_qs, u"01.06.9999"_qs, 2912215, u"2912215 дней 0 ч"_qs);
    }
    void expiry() {
        QFETCH(std::optional<QString>, expireAt);
        QFETCH(QString, expire);
        QFETCH(qint64, days);
        QFETCH(QString, left);
        const VirtualClock fixed(start);
        QCOMPARE(::formatExpire(expireAt), expire);
        QCOMPARE(::daysLeft(expireAt, fixed), days);
        QCOMPARE(::humanLeft(expireAt, fixed), left);
    }

    void clock_data() {
        QTest::addColumn<qint64>("elapsedMs");
        QTest::addColumn<QString>("expected");
        QTest::newRow("59.999 s") << qint64(59'999) << u"00:59"_qs;
        QTest::newRow("3599 s") << qint64(3'599'000) << u"59:59"_qs;
        QTest::newRow("3600 s") << qint64(3'600'000) << u"1:00:00"_qs;
        QTest::newRow("27 h") << qint64(27 * 3'600'000) << u"27:00:00"_qs;
        QTest::newRow("since after now") << qint64(-5'000) << u"00:00"_qs;
    }
    void clock() {
        QFETCH(qint64, elapsedMs);
        QFETCH(QString, expected);
        QCOMPARE(::clock(start, start.addMSecs(elapsedMs)), expected);
        QCOMPARE(::clock(std::nullopt, start), QString());
        QCOMPARE(::clock(QDateTime(), start), QString());
    }

    void plural() {
        constexpr qint64 max = std::numeric_limits<qint64>::max(), min = std::numeric_limits<qint64>::min();
        const std::pair<QString, QList<qint64>> forms[] = {
            {u"день"_qs, {1, 21, 101}},
            {u"дня"_qs, {2, 4, 22, 1003}},
            {u"дней"_qs, {0, 5, 11, 12, 14, 111, 112, max, min}}};
        for (const auto& [form, counts] : forms)
            for (const qint64 n : counts) // the count in the text names the failing case
                QCOMPARE(QString::number(n) + u' ' + ::plural(n, u"день"_qs, u"дня"_qs, u"дней"_qs),
                         QString::number(n) + u' ' + form);
    }

    // Day and second counts at the ends of the date range clamp instead of overflowing.
    void extremeTimesClamp() {
        const QDateTime earliest =
            QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::min() + 1, Qt::UTC);
        const QDateTime latest = QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::max(), Qt::UTC);
        const std::optional<QString> far(u"9999-06-01T12:00:00Z"_qs);
        // The difference to year 9999 does not fit in 64-bit milliseconds: it saturates.
        const qint64 saturatedDays = std::numeric_limits<qint64>::max() / 86'400'000;
        QCOMPARE(::daysLeft(far, VirtualClock(earliest)), saturatedDays);
        QVERIFY(::humanLeft(far, VirtualClock(earliest)).startsWith(QString::number(saturatedDays) + u' '));
        // Just inside the range, the count stays exact.
        const QDate remote(-250'000'000, 1, 1);
        QCOMPARE(::daysLeft(far, VirtualClock(QDateTime(remote, QTime(12, 0), Qt::UTC))),
                 remote.daysTo(QDate(9999, 6, 1)));
        QCOMPARE(::daysLeft(far, VirtualClock(latest)), qint64(0));
        QCOMPARE(::humanLeft(far, VirtualClock(latest)), ended);
        // Saturated at the largest 64-bit millisecond count: 9223372036854775 s.
        QCOMPARE(::clock(earliest, latest), u"2562047788015:12:55"_qs);
        QCOMPARE(::clock(latest, earliest), u"00:00"_qs);
    }
};

QTEST_GUILESS_MAIN(TestFormat)
#include "tst_format.moc"
