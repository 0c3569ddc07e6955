#include "format/Format.h"
#include "support/VirtualClock.h"

#include <QTest>
#include <ctime>
#include <limits>

namespace {
const QDateTime start(QDate(2026, 1, 15), QTime(12, 0), Qt::UTC);
}

class TestFormat : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // Three hours ahead of UTC all year (no tzdata needed), so dates near midnight UTC move.
        qputenv("TZ", "MSK-3");
        tzset();
    }

    void formatExpire_data() {
        QTest::addColumn<std::optional<QString>>("expireAt");
        QTest::addColumn<QString>("expected");
        const QString none = QStringLiteral("нет подписки");
        QTest::newRow("absent") << std::optional<QString>() << none;
        QTest::newRow("a word") << std::optional<QString>(u"soon"_qs) << none;
        QTest::newRow("empty") << std::optional<QString>(u""_qs) << none;
        QTest::newRow("date only") << std::optional<QString>(u"2025-03-01"_qs) << none;
        QTest::newRow("no zone") << std::optional<QString>(u"2025-03-01T12:00:00"_qs) << none;
        QTest::newRow("space for T") << std::optional<QString>(u"2025-03-01 12:00:00Z"_qs) << none;
        QTest::newRow("month 13") << std::optional<QString>(u"2025-13-01T12:00:00Z"_qs) << none;
        QTest::newRow("30 February") << std::optional<QString>(u"2025-02-30T12:00:00Z"_qs) << none;
        QTest::newRow("hour 24") << std::optional<QString>(u"2025-03-01T24:00:00Z"_qs) << none;
        QTest::newRow("offset 24h") << std::optional<QString>(u"2025-03-01T12:00:00+24:00"_qs) << none;
        QTest::newRow("empty fraction") << std::optional<QString>(u"2025-03-01T12:00:00.Z"_qs) << none;
        QTest::newRow("five-digit year") << std::optional<QString>(u"99999-03-01T12:00:00Z"_qs) << none;
        QTest::newRow("trailing text") << std::optional<QString>(u"2025-03-01T12:00:00Zx"_qs) << none;
        QTest::newRow("plain") << std::optional<QString>(u"2025-03-01T12:00:00Z"_qs) << u"01.03.2025"_qs;
        QTest::newRow("fraction") << std::optional<QString>(u"2025-03-01T12:00:00.250Z"_qs)
                                  << u"01.03.2025"_qs;
        QTest::newRow("long fraction")
            << std::optional<QString>(u"2025-03-01T12:00:00.123456789Z"_qs) << u"01.03.2025"_qs;
        QTest::newRow("next day locally")
            << std::optional<QString>(u"2025-02-28T22:30:00Z"_qs) << u"01.03.2025"_qs;
        QTest::newRow("offset east") << std::optional<QString>(u"2025-03-01T00:30:00+05:00"_qs)
                                     << u"28.02.2025"_qs;
        QTest::newRow("offset west") << std::optional<QString>(u"2025-02-28T20:30:00-01:00"_qs)
                                     << u"01.03.2025"_qs;
        QTest::newRow("year 9999") << std::optional<QString>(u"9999-06-01T00:00:00Z"_qs) << u"01.06.9999"_qs;
    }
    void formatExpire() {
        QFETCH(std::optional<QString>, expireAt);
        QFETCH(QString, expected);
        QCOMPARE(::formatExpire(expireAt), expected);
    }

    void daysLeft_data() {
        QTest::addColumn<std::optional<QString>>("expireAt");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("absent") << std::optional<QString>() << qint64(0);
        QTest::newRow("unreadable") << std::optional<QString>(u"2026-01-20"_qs) << qint64(0);
        QTest::newRow("36 hours") << std::optional<QString>(u"2026-01-17T00:00:00Z"_qs) << qint64(1);
        QTest::newRow("36 hours, offset")
            << std::optional<QString>(u"2026-01-17T03:00:00+03:00"_qs) << qint64(1);
        QTest::newRow("exactly a day") << std::optional<QString>(u"2026-01-16T12:00:00Z"_qs) << qint64(1);
        QTest::newRow("a day less 1 ms")
            << std::optional<QString>(u"2026-01-16T11:59:59.999Z"_qs) << qint64(0);
        QTest::newRow("10 minutes") << std::optional<QString>(u"2026-01-15T12:10:00Z"_qs) << qint64(0);
        QTest::newRow("one day past") << std::optional<QString>(u"2026-01-14T12:00:00Z"_qs) << qint64(0);
        QTest::newRow("30 days") << std::optional<QString>(u"2026-02-14T12:00:00.000Z"_qs) << qint64(30);
        QTest::newRow("year 9999") << std::optional<QString>(u"9999-06-01T12:00:00Z"_qs)
                                   << qint64(QDate(2026, 1, 15).daysTo(QDate(9999, 6, 1)));
    }
    void daysLeft() {
        QFETCH(std::optional<QString>, expireAt);
        QFETCH(qint64, expected);
        const VirtualClock fixed(start);
        QCOMPARE(::daysLeft(expireAt, fixed), expected);
    }

    void humanLeft_data() {
        QTest::addColumn<std::optional<QString>>("expireAt");
        QTest::addColumn<QString>("expected");
        QTest::newRow("absent") << std::optional<QString>() << u"подписка не активна"_qs;
        QTest::newRow("unreadable") << std::optional<QString>(u"soon"_qs) << u"подписка не активна"_qs;
        QTest::newRow("past") << std::optional<QString>(u"2026-01-10T00:00:00Z"_qs)
                              << u"подписка закончилась"_qs;
        QTest::newRow("right now") << std::optional<QString>(u"2026-01-15T12:00:00Z"_qs)
                                   << u"подписка закончилась"_qs;
        QTest::newRow("1 ms left") << std::optional<QString>(u"2026-01-15T12:00:00.001Z"_qs)
                                   << u"0 ч 0 мин"_qs;
        QTest::newRow("40 s") << std::optional<QString>(u"2026-01-15T12:00:40Z"_qs) << u"0 ч 0 мин"_qs;
        QTest::newRow("2 h 7 min") << std::optional<QString>(u"2026-01-15T14:07:59.999Z"_qs)
                                   << u"2 ч 7 мин"_qs;
        QTest::newRow("23 h 59 min") << std::optional<QString>(u"2026-01-16T11:59:00Z"_qs)
                                     << u"23 ч 59 мин"_qs;
        QTest::newRow("1 day 5 h") << std::optional<QString>(u"2026-01-16T17:00:00Z"_qs) << u"1 день 5 ч"_qs;
        QTest::newRow("2 days") << std::optional<QString>(u"2026-01-17T12:00:00Z"_qs) << u"2 дня 0 ч"_qs;
        QTest::newRow("5 days 3 h") << std::optional<QString>(u"2026-01-20T15:30:00Z"_qs) << u"5 дней 3 ч"_qs;
        QTest::newRow("11 days") << std::optional<QString>(u"2026-01-26T12:00:00Z"_qs) << u"11 дней 0 ч"_qs;
        QTest::newRow("21 days") << std::optional<QString>(u"2026-02-05T12:00:00Z"_qs) << u"21 день 0 ч"_qs;
        QTest::newRow("22 days") << std::optional<QString>(u"2026-02-06T13:00:00Z"_qs) << u"22 дня 1 ч"_qs;
        QTest::newRow("25 days") << std::optional<QString>(u"2026-02-09T12:00:00Z"_qs) << u"25 дней 0 ч"_qs;
        QTest::newRow("offset") << std::optional<QString>(u"2026-01-16T20:00:00+03:00"_qs)
                                << u"1 день 5 ч"_qs;
    }
    void humanLeft() {
        QFETCH(std::optional<QString>, expireAt);
        QFETCH(QString, expected);
        const VirtualClock fixed(start);
        QCOMPARE(::humanLeft(expireAt, fixed), expected);
    }

    void clock_data() {
        QTest::addColumn<qint64>("elapsedMs");
        QTest::addColumn<QString>("expected");
        QTest::newRow("zero") << qint64(0) << u"00:00"_qs;
        QTest::newRow("59.999 s") << qint64(59'999) << u"00:59"_qs;
        QTest::newRow("7:05") << qint64(425'000) << u"07:05"_qs;
        QTest::newRow("3599 s") << qint64(3'599'000) << u"59:59"_qs;
        QTest::newRow("3600 s") << qint64(3'600'000) << u"1:00:00"_qs;
        QTest::newRow("1:02:09") << qint64(3'729'000) << u"1:02:09"_qs;
        QTest::newRow("27 h") << qint64(27 * 3'600'000) << u"27:00:00"_qs;
        QTest::newRow("since after now") << qint64(-5'000) << u"00:00"_qs;
    }
    void clock() {
        QFETCH(qint64, elapsedMs);
        QFETCH(QString, expected);
        QCOMPARE(::clock(start, start.addMSecs(elapsedMs)), expected);
    }

    void clockWithoutSince() {
        QCOMPARE(::clock(std::nullopt, start), QString());
        QCOMPARE(::clock(QDateTime(), start), QString());
    }

    void plural_data() {
        QTest::addColumn<qint64>("n");
        QTest::addColumn<QString>("expected");
        const QList<std::pair<qint64, QString>> cases = {
            {0, u"дней"_qs},
            {1, u"день"_qs},
            {2, u"дня"_qs},
            {4, u"дня"_qs},
            {5, u"дней"_qs},
            {11, u"дней"_qs},
            {12, u"дней"_qs},
            {14, u"дней"_qs},
            {21, u"день"_qs},
            {22, u"дня"_qs},
            {25, u"дней"_qs},
            {101, u"день"_qs},
            {111, u"дней"_qs},
            {112, u"дней"_qs},
            {1003, u"дня"_qs},
            {std::numeric_limits<qint64>::max(), u"дней"_qs},
            {std::numeric_limits<qint64>::min(), u"дней"_qs},
        };
        for (const auto& [n, form] : cases)
            QTest::addRow("%lld", static_cast<long long>(n)) << n << form;
    }
    void plural() {
        QFETCH(qint64, n);
        QFETCH(QString, expected);
        QCOMPARE(::plural(n, u"день"_qs, u"дня"_qs, u"дней"_qs), expected);
    }

    // Day and second counts at the ends of the date range clamp instead of overflowing.
    void extremeTimesClamp() {
        const QDateTime earliest =
            QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::min() + 1, Qt::UTC);
        const QDateTime latest = QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::max(), Qt::UTC);
        QVERIFY(earliest.isValid() && latest.isValid());

        // The difference to year 9999 does not fit in 64-bit milliseconds: it saturates.
        const VirtualClock ancient(earliest);
        const std::optional<QString> far(u"9999-06-01T12:00:00Z"_qs);
        const qint64 saturatedDays = std::numeric_limits<qint64>::max() / 86'400'000;
        QCOMPARE(::daysLeft(far, ancient), saturatedDays);
        QVERIFY(::humanLeft(far, ancient).startsWith(QString::number(saturatedDays) + u' '));

        // Just inside the range, the count stays exact.
        const QDate remote(-250'000'000, 1, 1);
        const VirtualClock early(QDateTime(remote, QTime(12, 0), Qt::UTC));
        QCOMPARE(::daysLeft(far, early), remote.daysTo(QDate(9999, 6, 1)));

        const VirtualClock future(latest);
        QCOMPARE(::daysLeft(far, future), qint64(0));
        QCOMPARE(::humanLeft(far, future), u"подписка закончилась"_qs);

        // Saturated at the largest 64-bit millisecond count: 9223372036854775 s.
        QCOMPARE(::clock(earliest, latest), u"2562047788015:12:55"_qs);
        QCOMPARE(::clock(latest, earliest), u"00:00"_qs);
    }
};

QTEST_GUILESS_MAIN(TestFormat)
#include "tst_format.moc"
