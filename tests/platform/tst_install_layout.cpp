#include "platform/InstallLayout.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestInstallLayout : public QObject {
    Q_OBJECT

private slots:
    // Which helper folder the app takes, for the files present under a prefix.
    void helperDir_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("expected");
        QTest::newRow("AppDir: helpers beside the app") << QStringList{u"bin/vemko-tunnel"_qs} << u"bin"_qs;
        QTest::newRow("package: helpers in lib/vemko-vpn")
            << QStringList{u"lib/vemko-vpn/vemko-tunnel"_qs} << u"lib/vemko-vpn"_qs;
        QTest::newRow("both: the one beside the app")
            << QStringList{u"bin/vemko-tunnel"_qs, u"lib/vemko-vpn/vemko-tunnel"_qs} << u"bin"_qs;
        QTest::newRow("a folder of that name is no helper")
            << QStringList{u"lib/vemko-vpn/vemko-tunnel/x"_qs} << u"bin"_qs;
        QTest::newRow("none: beside the app, where the error will name it") << QStringList{} << u"bin"_qs;
    }
    void helperDir() {
        QFETCH(QStringList, files);
        QFETCH(QString, expected);
        QTemporaryDir prefix;
        QDir root(prefix.path());
        QVERIFY(root.mkpath(u"bin"_qs));
        for (const QString& file : files) {
            QVERIFY(root.mkpath(QFileInfo(file).path()));
            QFile touch(root.filePath(file));
            QVERIFY(touch.open(QIODevice::WriteOnly));
        }
        QCOMPARE(InstallLayout::helperDirFor(root.filePath(u"bin"_qs)), root.filePath(expected));
    }

    void packageManaged_data() {
        QTest::addColumn<QString>("appDir");
        QTest::addColumn<bool>("managed");
        QTest::newRow("/usr/bin") << u"/usr/bin"_qs << true;
        QTest::newRow("/usr/local/bin") << u"/usr/local/bin"_qs << true;
        QTest::newRow("installed AppDir") << u"/home/u/.local/opt/Vemko VPN.AppDir/bin"_qs << false;
        QTest::newRow("a look-alike prefix") << u"/usrx/bin"_qs << false;
        QTest::newRow("climbing out of /usr") << u"/usr/../home/u/bin"_qs << false;
    }
    void packageManaged() {
        QFETCH(QString, appDir);
        QFETCH(bool, managed);
        QCOMPARE(InstallLayout::isPackageManaged(appDir), managed);
    }
};

QTEST_GUILESS_MAIN(TestInstallLayout)
#include "tst_install_layout.moc"
