// The desktop entry that makes vemko-vpn the handler of "vemko" links.

#include "DesktopEntry.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class DesktopEntryTest : public QObject {
    Q_OBJECT
private slots:
    void execQuotesEveryPath_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("quoted");
        QTest::newRow("plain") << "/usr/bin/vemko-vpn"
                               << "\"/usr/bin/vemko-vpn\"";
        QTest::newRow("space") << "/opt/Vemko VPN.AppDir/AppRun"
                               << "\"/opt/Vemko VPN.AppDir/AppRun\"";
        QTest::newRow("quote and dollar") << "/tmp/a\"b$c/x"
                                          << "\"/tmp/a\\\\\"b\\\\$c/x\"";
        QTest::newRow("percent") << "/tmp/100%/x"
                                 << "\"/tmp/100%%/x\"";
        QTest::newRow("backslash and backtick") << "/tmp/a\\b`c"
                                                << "\"/tmp/a\\\\\\\\b\\\\`c\"";
    }
    void execQuotesEveryPath() {
        QFETCH(QString, program);
        QFETCH(QString, quoted);
        QCOMPARE(DesktopEntry::quoteExec(program), quoted);
    }

    void writtenWhenMissingOrPointingElsewhere() {
        QTemporaryDir data;
        // xdg-mime, where installed, records the handler under the config folder: a private one.
        qputenv("XDG_CONFIG_HOME", data.filePath("config").toUtf8());
        const QString path = data.filePath("applications/vemko-vpn.desktop");
        QVERIFY(DesktopEntry::install("/opt/a/vemko-vpn", data.path()));
        QFile entry(path);
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(entry.readAll());
        entry.close();
        for (const char* line :
             {"Name=Vemko VPN\n", "Exec=\"/opt/a/vemko-vpn\" -- %u\n", "MimeType=x-scheme-handler/vemko;\n",
              "StartupWMClass=vemko-vpn\n", "Icon=vemko-vpn\n"})
            QVERIFY2(text.contains(QString::fromUtf8(line)), line);
        QVERIFY(QFile::exists(data.filePath("icons/hicolor/256x256/apps/vemko-vpn.png")));
        QVERIFY(!DesktopEntry::install("/opt/a/vemko-vpn", data.path())); // already right: left alone
        QVERIFY(DesktopEntry::install("/opt/b/vemko-vpn", data.path()));
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(entry.readAll()).contains("Exec=\"/opt/b/vemko-vpn\" -- %u"));
    }
};

QTEST_MAIN(DesktopEntryTest)
#include "tst_desktop_entry.moc"
