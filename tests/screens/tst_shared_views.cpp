#include "Brand.h"
#include "GlowMascot.h"
#include "Label2.h"
#include "Mascot.h"
#include "Phase.h"

#include <QTest>

class SharedViewsTest : public QObject {
    Q_OBJECT
private slots:
    void mascotComesFromTheResourcesOrIsEmpty() {
        const QPixmap mascot = Mascot::picture(64);
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
};

QTEST_MAIN(SharedViewsTest)
#include "tst_shared_views.moc"
