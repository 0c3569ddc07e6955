// Start at login through a real XDG autostart entry in a temporary config folder.

#include "platform/LoginItem.h"
#include "platform/PlatformError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString exe = QStringLiteral("/opt/Vemko VPN.AppDir/vemko \"vpn\"");

void write(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

} // namespace

class LoginItemTest : public QObject {
    Q_OBJECT
private slots:
    void onAndOff() {
        QTemporaryDir home;
        XdgLoginItem item(exe, home.path());
        QCOMPARE(item.path(), home.filePath("autostart/vemko-vpn.desktop"));
        QVERIFY(!item.enabled());
        item.setEnabled(false); // nothing to remove
        item.setEnabled(true);
        QVERIFY(item.enabled());
        QFile file(item.path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY(text.contains(R"(Exec="/opt/Vemko VPN.AppDir/vemko \\"vpn\\"" --hidden)"));
        QVERIFY(text.startsWith("[Desktop Entry]\n"));
        item.setEnabled(true); // again: still one entry, still ours
        QVERIFY(item.enabled());
        item.setEnabled(false);
        QVERIFY(!QFile::exists(item.path()));
        QVERIFY(!item.enabled());
    }

    // What the desktop would do with an entry found there.
    void status_data() {
        QTest::addColumn<QString>("edit"); // applied to our own entry: "from=>to"
        QTest::addColumn<bool>("enabled");
        QTest::newRow("ours") << "" << true;
        QTest::newRow("hidden") << "Terminal=false=>Hidden=true" << false;
        QTest::newRow("switched off in GNOME")
            << "X-GNOME-Autostart-enabled=true=>X-GNOME-Autostart-enabled=false" << false;
        QTest::newRow("another program") << "--hidden=>--other" << false;
        QTest::newRow("another copy") << "/opt/=>/usr/" << false;
        QTest::newRow("switch in another group") << "Terminal=false=>[Desktop Action x]\nHidden=true" << true;
        QTest::newRow("empty file") << "*" << false;
    }
    void status() {
        QFETCH(QString, edit);
        QFETCH(bool, enabled);
        QTemporaryDir home;
        XdgLoginItem item(exe, home.path());
        QString text = item.entryText();
        if (edit == "*")
            text.clear();
        else if (!edit.isEmpty())
            text.replace(edit.section("=>", 0, 0), edit.section("=>", 1));
        write(item.path(), text.toUtf8());
        QCOMPARE(item.enabled(), enabled);
    }

    // A folder where the entry should be (removal) or where its folder should be (writing) fails
    // loudly and leaves what was there; this holds for root too, unlike permissions.
    void failures() {
        QTemporaryDir home;
        XdgLoginItem blocked(exe, home.path());
        write(blocked.path() + "/keep", "x");
        QVERIFY_THROWS_EXCEPTION(PlatformError, blocked.setEnabled(false));
        QVERIFY_THROWS_EXCEPTION(PlatformError, blocked.setEnabled(true));
        QVERIFY(QFile::exists(blocked.path() + "/keep"));
        QVERIFY(!blocked.enabled());

        write(home.filePath("file"), "x");
        XdgLoginItem noFolder(exe, home.filePath("file"));
        QVERIFY_THROWS_EXCEPTION(PlatformError, noFolder.setEnabled(true));
    }
};

QTEST_MAIN(LoginItemTest)
#include "tst_login_item.moc"
