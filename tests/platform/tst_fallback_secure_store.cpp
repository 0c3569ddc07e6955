// The token's home on a desktop without a Secret Service: a private file, never a link or a FIFO.
#include "platform/FallbackSecureStore.h"
#include "support/FakeSecureStore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

class TestFallbackSecureStore : public QObject {
    Q_OBJECT

    static int mode(const QString& path) {
        struct stat info {};
        return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
    }

private slots:
    void withoutASecretServiceTheTokenGoesToAPrivateFile() {
        QTemporaryDir home;
        const QString folder = home.filePath("data/vemko-vpn");
        FakeSecureStore absent;
        absent.refuseWrites = true;
        FallbackSecureStore store(absent, folder);
        QVERIFY(store.write("token", "секрет-1"));
        QVERIFY(store.write("token", "секрет-2"));
        QCOMPARE(mode(folder), 0700);
        QCOMPARE(mode(folder + "/token"), 0600);
        QCOMPARE(FallbackSecureStore(absent, folder).read("token"), u"секрет-2"_qs); // a restart finds it

        // Once the Secret Service takes the value, the file copy goes.
        absent.refuseWrites = false;
        QVERIFY(store.write("token", "секрет-3"));
        QVERIFY(!QFile::exists(folder + "/token"));
        QCOMPARE(store.read("token"), u"секрет-3"_qs);
        store.remove("token");
        QCOMPARE(store.read("token"), std::nullopt);
    }

    void whatIsNotOurPlainFileReadsAsNothing_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("link to another file") << "link";
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("not UTF-8") << "bytes";
        QTest::newRow("empty") << "empty";
    }
    void whatIsNotOurPlainFileReadsAsNothing() {
        QFETCH(QString, kind);
        QTemporaryDir home;
        const QString path = home.filePath("token");
        if (kind == "link") {
            QFile other(home.filePath("other"));
            QVERIFY(other.open(QIODevice::WriteOnly));
            other.write("secret of someone else");
            other.close();
            QVERIFY(QFile::link(other.fileName(), path));
        } else if (kind == "fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(kind == "bytes" ? QByteArray("\xff\xfe\xfd") : QByteArray());
        }
        FakeSecureStore absent;
        QCOMPARE(FallbackSecureStore(absent, home.path()).read("token"), std::nullopt);
    }

    void aKeyThatIsNoFileNameIsRefused() {
        QTemporaryDir home;
        FakeSecureStore absent;
        absent.refuseWrites = true;
        FallbackSecureStore store(absent, home.filePath("vemko-vpn"));
        QVERIFY(!store.write("../token", "x"));
        QVERIFY(!QFile::exists(home.filePath("token")));
    }
};

QTEST_GUILESS_MAIN(TestFallbackSecureStore)
#include "tst_fallback_secure_store.moc"
