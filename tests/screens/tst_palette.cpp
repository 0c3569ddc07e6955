#include "Palette.h"

#include <QTest>

namespace {
using Set = std::array<QColor, 3>;
const Set amber{QColor(180, 83, 9), QColor(245, 158, 11), QColor(217, 119, 6)};
const Set teal{QColor(10, 102, 90), QColor(15, 159, 138), QColor(19, 78, 74)};
const Set green{QColor(11, 127, 110), QColor(18, 179, 154), QColor(10, 102, 90)};
const Set red{QColor(153, 27, 27), QColor(239, 68, 68), QColor(185, 28, 28)};
const Set slate{QColor(51, 65, 85), QColor(71, 85, 105), QColor(30, 41, 59)};
} // namespace

class PaletteTest : public QObject {
    Q_OBJECT
private slots:
    void statusColors_data() {
        QTest::addColumn<VpnStatus>("status");
        QTest::addColumn<bool>("active");
        QTest::addColumn<qint64>("days");
        QTest::addColumn<bool>("limited");
        QTest::addColumn<Set>("set");
        QTest::newRow("limit while on stays green") << VpnStatus::On << true << qint64(30) << true << green;
        QTest::newRow("limit while off") << VpnStatus::Off << true << qint64(30) << true << amber;
        QTest::newRow("limit while connecting")
            << VpnStatus::Connecting << true << qint64(30) << true << amber;
        QTest::newRow("limit without subscription") << VpnStatus::Off << false << qint64(0) << true << amber;
        QTest::newRow("connecting unsubscribed")
            << VpnStatus::Connecting << false << qint64(0) << false << teal;
        QTest::newRow("on unsubscribed") << VpnStatus::On << false << qint64(0) << false << green;
        QTest::newRow("off inactive, many days") << VpnStatus::Off << false << qint64(100) << false << red;
        QTest::newRow("off active, 3 days") << VpnStatus::Off << true << qint64(3) << false << amber;
        QTest::newRow("off active, 4 days") << VpnStatus::Off << true << qint64(4) << false << slate;
    }
    void statusColors() {
        QFETCH(VpnStatus, status);
        QFETCH(bool, active);
        QFETCH(qint64, days);
        QFETCH(bool, limited);
        QFETCH(Set, set);
        const Set colors = Palette::statusColors(status, active, days, limited);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(colors[i].rgba(), set[i].rgba());
    }
};

QTEST_APPLESS_MAIN(PaletteTest)
#include "tst_palette.moc"
