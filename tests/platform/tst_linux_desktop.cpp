#include "platform/Desktop.h"

#include <QCoreApplication>
#include <QTest>
#include <QTimer>

class TestLinuxDesktop : public QObject {
    Q_OBJECT

private slots:
    void openUrlRefusesWhatIsNotAnAbsoluteUrl() {
        LinuxDesktop desktop;
        QVERIFY(!desktop.openUrl(QUrl()));
        QVERIFY(!desktop.openUrl(QUrl(u"--help"_qs)));
        QVERIFY(!desktop.openUrl(QUrl(u"relative/path"_qs)));
    }

    // Quitting waits for the event loop, so the caller's own event finishes first.
    void terminateQuitsFromTheEventLoop() {
        LinuxDesktop desktop;
        desktop.terminate();
        // Only reached when the quit was lost (a quit before exec() is forgotten).
        QTimer::singleShot(std::chrono::seconds(10), qApp, [] { QCoreApplication::exit(7); });
        QCOMPARE(QCoreApplication::exec(), 0);
    }
};

QTEST_GUILESS_MAIN(TestLinuxDesktop)
#include "tst_linux_desktop.moc"
