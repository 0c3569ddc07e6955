// The pieces every screen shares: the mascot, the symbols, captions, cards and the status colours.

#include "Brand.h"
#include "Card.h"
#include "GlowMascot.h"
#include "Label2.h"
#include "Mascot.h"
#include "Palette.h"
#include "Phase.h"

#include <QRegularExpression>
#include <QTest>

namespace {
using Set = std::array<QColor, 3>;
const Set amber{QColor(180, 83, 9), QColor(245, 158, 11), QColor(217, 119, 6)};
const Set teal{QColor(10, 102, 90), QColor(15, 159, 138), QColor(19, 78, 74)};
const Set green{QColor(11, 127, 110), QColor(18, 179, 154), QColor(10, 102, 90)};
const Set red{QColor(153, 27, 27), QColor(239, 68, 68), QColor(185, 28, 28)};
const Set slate{QColor(51, 65, 85), QColor(71, 85, 105), QColor(30, 41, 59)};

// The largest difference of any channel of any pixel between two images of one size.
int largestDifference(const QImage& one, const QImage& other) {
    int largest = 0;
    for (int y = 0; y < one.height(); ++y)
        for (int x = 0; x < one.width(); ++x) {
            const QRgb a = one.pixel(x, y);
            const QRgb b = other.pixel(x, y);
            largest = std::max({largest, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
        }
    return largest;
}
} // namespace

class SharedViewsTest : public QObject {
    Q_OBJECT
private slots:
    void mascotComesFromTheResourcesOrIsEmpty() {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        const QPixmap mascot = Mascot::picture(64); // no picture of this size in the build: scaled
        QCOMPARE(mascot.size(), QSize(64, 64));
        QVERIFY(mascot.toImage().pixelColor(32, 32).alpha() > 0);
        const QPixmap missing = Mascot::picture(48, QStringLiteral(":/no-such.png"));
        QCOMPARE(missing.size(), QSize(48, 48));
        QCOMPARE(missing.toImage().pixelColor(24, 24).alpha(), 0);
    }

    void symbolsAreDrawnInTheAskedColour() {
        for (const char* name : {"shield", "shield.fill", "shield.lefthalf.filled", "power", "creditcard",
                                 "laptopcomputer", "slider.horizontal.3", "checkmark.circle.fill"}) {
            const QImage image = Brand::symbol(QString::fromLatin1(name), Qt::red, 32).toImage();
            int inked = 0;
            for (int y = 0; y < 32; ++y)
                for (int x = 0; x < 32; ++x)
                    if (const QColor pixel = image.pixelColor(x, y); pixel.alpha() == 255) {
                        QCOMPARE(pixel.rgb(), QColor(Qt::red).rgb());
                        ++inked;
                    }
            QVERIFY2(inked > 20, name);
        }
        QCOMPARE(Brand::symbol(QStringLiteral("nope"), Qt::red, 16).toImage().pixelColor(8, 8).alpha(), 0);
    }

    // A card of any length has the same ends, a middle without seams, and mirror-equal sides.
    void cardFramesHaveTheSameEndsAtAnyLength() {
        const auto render = [](QSize size) {
            Card card;
            card.resize(size);
            QImage image(size, QImage::Format_ARGB32_Premultiplied);
            image.fill(QColor(240, 242, 245));
            card.render(&image, {}, {}, QWidget::DrawChildren);
            return image;
        };
        const QImage shorter = render({432, 120});
        const QImage longer = render({432, 820});
        QCOMPARE(longer.copy(0, 0, 432, 60), shorter.copy(0, 0, 432, 60));
        QCOMPARE(longer.copy(0, 760, 432, 60), shorter.copy(0, 60, 432, 60));
        // The straight middle starts inside the corners' reach.
        for (int y = 24; y < 795; ++y)
            QCOMPARE(longer.copy(0, y, 432, 1), longer.copy(0, 400, 432, 1));
        for (int x = 24; x < 408; ++x)
            QCOMPARE(longer.copy(x, 0, 1, 820), longer.copy(216, 0, 1, 820));
        QVERIFY(largestDifference(longer.mirrored(true, false), longer) <= 2); // antialiasing's rounding
        QVERIFY(longer.pixelColor(3, 400) != QColor(240, 242, 245));           // the shadow beside it
        QCOMPARE(longer.pixelColor(216, 400), QColor(Qt::white));
        const QImage tiny = render({40, 40}); // smaller than its corners: drawn whole
        QCOMPARE(tiny.pixelColor(20, 20), QColor(Qt::white));
    }

    void mascotFloatsBetweenMinusAndPlusFive() {
        QCOMPARE(GlowMascot::offsetAt(0), -5.0);
        QCOMPARE(GlowMascot::offsetAt(2.6), 5.0);
        QCOMPARE(GlowMascot::offsetAt(5.2), -5.0); // reversed back
        QVERIFY(qAbs(GlowMascot::offsetAt(1.3)) < 1e-9);
        QVERIFY(GlowMascot::offsetAt(0.3) < GlowMascot::offsetAt(0.6));
        QVERIFY(GlowMascot::offsetAt(3.0) > GlowMascot::offsetAt(3.3));
    }

    void mascotFloatsOnlyWhileShown() {
        GlowMascot mascot(64);
        mascot.show();
        QVERIFY(mascot.phase()->running());
        mascot.hide();
        QVERIFY(!mascot.phase()->running());
    }

    // Minimised, nothing of it can be seen: no timer runs until the window is back.
    void mascotRestsWhileItsWindowIsMinimised() {
        GlowMascot mascot(64);
        mascot.show();
        QVERIFY(QTest::qWaitForWindowExposed(&mascot));
        mascot.setWindowState(Qt::WindowMinimized);
        QTRY_VERIFY_WITH_TIMEOUT(!mascot.phase()->ticking(), 5000);
        const double rested = mascot.phase()->seconds();
        mascot.setWindowState(Qt::WindowNoState);
        QTRY_VERIFY_WITH_TIMEOUT(mascot.phase()->seconds() > rested, 5000);
    }

    void captionsAreCapitalsButReadAsWritten() {
        Label2 caption(QStringLiteral("Куда выходим"));
        QCOMPARE(caption.text(), QStringLiteral("КУДА ВЫХОДИМ"));
        QCOMPARE(caption.accessibleName(), QStringLiteral("Куда выходим"));
    }

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

QTEST_MAIN(SharedViewsTest)
#include "tst_shared_views.moc"
