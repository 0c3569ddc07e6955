#include "platform/Desktop.h"

#include <QCoreApplication>
#include <QTest>
#include <QTimer>

class TestLinuxDesktop : public QObject {
    Q_OBJECT

private slots:
    void openUrlRefusesWhatIsNotAnAbsoluteUrl() {
        LinuxDesktop desktop;
        for (const QUrl& url : {QUrl(), QUrl(u"--help"_qs), QUrl(u"relative/path"_qs)})
            QVERIFY(!desktop.openUrl(url));
    }

    // Quitting waits for the event loop, so the caller's own event finishes first.
    void terminateQuitsFromTheEventLoop() {
        LinuxDesktop().terminate();
        // Only reached when the quit was lost (a quit before exec() is forgotten).
        QTimer::singleShot(std::chrono::seconds(10), qApp, [] { QCoreApplication::exit(7); });
        QCOMPARE(QCoreApplication::exec(), 0);
    }
};

QTEST_GUILESS_MAIN(TestLinuxDesktop)
#include "tst_linux_desktop.moc"
