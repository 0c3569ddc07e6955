// The texts and choices a screen and vemkoctl share: the tray status line and the tariff list.

#include "model/StatusLine.h"
#include "model/Tariffs.h"

#include <QTest>

Q_DECLARE_METATYPE(VpnStatus)

class SharedTextsTest : public QObject {
    Q_OBJECT

private slots:
    void statusLine_data() {
        QTest::addColumn<VpnStatus>("status");
        QTest::addColumn<QString>("server"); // "" : none
        QTest::addColumn<int>("account");    // 0 none, 1 inactive, 2 active, -1 none and recovering
        QTest::addColumn<QString>("line");
        QTest::newRow("on") << VpnStatus::On << "Европа авто" << 1 << "Подключено · Европа авто";
        QTest::newRow("on, no name") << VpnStatus::On << "" << 2 << "Подключено · ";
        QTest::newRow("connecting") << VpnStatus::Connecting << "Рига" << 0 << "Подключаюсь…";
        QTest::newRow("replacing a dead server")
            << VpnStatus::Connecting << "пробую: Рига" << -1 << "Связь пропала — переключаюсь…";
        QTest::newRow("off, subscribed") << VpnStatus::Off << "Рига" << 2 << "Отключено";
        QTest::newRow("off, inactive") << VpnStatus::Off << "" << 1 << "Подписка не активна";
        QTest::newRow("off, no account") << VpnStatus::Off << "" << 0 << "Подписка не активна";
    }
    void statusLine() {
        QFETCH(VpnStatus, status);
        QFETCH(QString, server);
        QFETCH(int, account);
        QFETCH(QString, line);
        std::optional<Me> me;
        if (account > 0) {
            me.emplace();
            me->active = account == 2;
        }
        QCOMPARE(
            ::statusLine(status, server.isEmpty() ? std::nullopt : std::optional(server), me, account < 0),
            line);
    }

    // Only the chosen device count, shortest first; equal terms keep the service's order.
    void plansForDevices() {
        const QList<Plan> plans{
            {"y", 365, 3, 2990}, {"m", 30, 3, 299}, {"other", 7, 1, 99}, {"w", 7, 3, 99}, {"m2", 30, 3, 349}};
        QStringList codes;
        for (const Plan& plan : ::plansForDevices(plans, 3))
            codes << plan.code;
        QCOMPARE(codes, (QStringList{"w", "m", "m2", "y"}));
        QVERIFY(::plansForDevices(plans, 2).isEmpty());
    }

    void priceLine_data() {
        QTest::addColumn<qint64>("days");
        QTest::addColumn<qint64>("price");
        QTest::addColumn<QString>("term");
        QTest::addColumn<QString>("line");
        const auto row = [](const char* tag, qint64 days, qint64 price, const char* term,
                            const QString& line) {
            QTest::newRow(tag) << days << price << QString(term) << line;
        };
        row("month", 30, 299, "30 дней", "299 ₽ · 299 ₽ за месяц");
        row("year, truncated", 365, 2990, "365 дней", "2990 ₽ · 245 ₽ за месяц");
        row("quarter", 90, 1000, "90 дней", "1000 ₽ · 333 ₽ за месяц");
        row("one day", 1, 10, "1 день", "10 ₽ · 300 ₽ за месяц");
        row("22 days", 22, 0, "22 дня", "0 ₽ · 0 ₽ за месяц");
        row("no days: no monthly figure", 0, 100, "0 дней", "100 ₽");
        constexpr qint64 huge = std::numeric_limits<qint64>::max();
        row("huge price clamps", 1, huge, "1 день",
            QString::number(huge) + " ₽ · " + QString::number(huge / 30 * 30) + " ₽ за месяц");
    }
    void priceLine() {
        QFETCH(qint64, days);
        QFETCH(qint64, price);
        QFETCH(QString, term);
        QFETCH(QString, line);
        const Plan plan{"p", days, 1, price};
        QCOMPARE(planTerm(plan), term);
        QCOMPARE(planPriceLine(plan), line);
    }

    // The card tiers by device count (their texts: the command line's "plans").
    void cardTiersByDevices() {
        QList<int> devices;
        for (const StripeTier& tier : sortedTiers({{5, 9.0, 90.0}, {1, 4.5, 48.0}, {3, 6.0, 60.0}}))
            devices << tier.devices;
        QCOMPARE(devices, (QList<int>{1, 3, 5}));
    }
};

QTEST_GUILESS_MAIN(SharedTextsTest)
#include "tst_shared_texts.moc"
