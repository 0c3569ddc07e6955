#include "platform/Defaults.h"
#include "support/FileChecks.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <limits>
#include <unistd.h>

class TestFileDefaults : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString folder() const { return m_dir.path() + u"/config/vemko-vpn"_qs; }
    QString path() const { return folder() + u"/defaults.json"_qs; }

private slots:
    void init() { QDir(m_dir.path() + u"/config"_qs).removeRecursively(); }

    void defaultPathFollowsXdgConfigHome() {
        qputenv("HOME", "/home/someone");
        qputenv("XDG_CONFIG_HOME", "/srv/cfg");
        QCOMPARE(FileDefaults::defaultPath(), u"/srv/cfg/vemko-vpn/defaults.json"_qs);
        qputenv("XDG_CONFIG_HOME", "relative/cfg"); // invalid: ignored
        QCOMPARE(FileDefaults::defaultPath(), u"/home/someone/.config/vemko-vpn/defaults.json"_qs);
    }

    void valuesSurviveReopenOwnerOnly() {
        constexpr qint64 beyondDouble = (qint64(1) << 53) + 1;
        {
            FileDefaults defaults(path());
            QVERIFY(!QFile::exists(path())); // nothing is written before the first value
            defaults.setString(u"email"_qs, u"юзер@почта.рф \"quoted\"\n"_qs);
            // A file someone made world-readable is owner-only again after the next write.
            QVERIFY(QFile::setPermissions(path(), QFile::permissions(path()) | QFile::ReadOther));
            defaults.setBoolean(u"was_connected"_qs, true);
            QCOMPARE(modeOf(path()), 0600);
            defaults.setString(u"auto_connect"_qs, u"false"_qs); // text, not a Boolean
            defaults.setInteger(u"min"_qs, std::numeric_limits<qint64>::min());
            defaults.setInteger(u"odd"_qs, beyondDouble);
        }
        const FileDefaults reopened(path());
        QCOMPARE(reopened.string(u"email"_qs), u"юзер@почта.рф \"quoted\"\n"_qs);
        QCOMPARE(reopened.boolean(u"was_connected"_qs), true);
        QCOMPARE(reopened.boolean(u"auto_connect"_qs), std::nullopt);
        QCOMPARE(reopened.string(u"auto_connect"_qs), u"false"_qs);
        QCOMPARE(reopened.integer(u"min"_qs), std::numeric_limits<qint64>::min());
        QCOMPARE(reopened.integer(u"odd"_qs), beyondDouble);
        QCOMPARE(reopened.value(u"absent"_qs), std::nullopt);
    }

    void badFileIsMovedAside_data() {
        QTest::addColumn<QByteArray>("bad");
        QTest::addColumn<bool>("unreadable");
        QTest::newRow("garbage") << QByteArray("not json at all \x01\xff") << false;
        QTest::newRow("truncated") << QByteArray("{\"hwid\": \"0123\", \"email\": \"a@") << false;
        QTest::newRow("array") << QByteArray("[{\"hwid\": \"0123\"}]") << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("unreadable") << QByteArray("{\"hwid\": \"0123\"}") << true;
    }
    void badFileIsMovedAside() {
        QFETCH(QByteArray, bad);
        QFETCH(bool, unreadable);
        QVERIFY(writeFile(path(), bad));
        if (unreadable && (!QFile::setPermissions(path(), {}) || QFile(path()).open(QIODevice::ReadOnly)))
            QSKIP("file permissions do not bind this user (root)");

        FileDefaults defaults(path());
        QCOMPARE(defaults.value(u"hwid"_qs), std::nullopt);
        QVERIFY(!QFile::exists(path()));
        const QStringList names = QDir(folder()).entryList(QDir::Files);
        QCOMPARE(names.size(), 1);
        QVERIFY2(
            QRegularExpression(u"^defaults\\.json\\.corrupt-\\d{8}-\\d{6}$"_qs).match(names[0]).hasMatch(),
            qPrintable(names[0]));
        if (unreadable)
            return; // the copy is as unreadable as the original
        defaults.setString(u"hwid"_qs, u"fresh"_qs);
        QCOMPARE(FileDefaults(path()).string(u"hwid"_qs), u"fresh"_qs);
        // A second bad file within the same second is kept too, never over the first copy.
        QVERIFY(writeFile(path(), "second bad"));
        FileDefaults{path()};
        QCOMPARE(QDir(folder()).entryList({u"defaults.json.corrupt-*"_qs}).size(), 2);
        QCOMPARE(readAll(folder() + u'/' + names[0]), bad);
    }

    // A bad file that cannot be moved aside (here: its copy's name is too long) is never
    // replaced by a fresh store, and writes say they failed.
    void badFileThatCannotMoveStays() {
        const QString longPath = folder() + u'/' + QString(245, u'd');
        QVERIFY(writeFile(longPath, "{ bad"));
        FileDefaults defaults(longPath);
        QVERIFY(!defaults.setString(u"hwid"_qs, u"fresh"_qs));
        QCOMPARE(defaults.string(u"hwid"_qs), std::nullopt);
        QCOMPARE(readAll(longPath), QByteArray("{ bad"));
        QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    // A write that cannot complete (a file-size limit, which binds root too; a full disk) leaves
    // the old file whole and no temporary behind, and says so; once space is back writes work.
    void failedWriteKeepsOldFile_data() {
        QTest::addColumn<bool>("fullDisk");
        QTest::newRow("file-size limit") << false;
        QTest::newRow("full disk") << true;
    }
    void failedWriteKeepsOldFile() {
        QFETCH(bool, fullDisk);
        QVERIFY(QDir().mkpath(folder()));
        const QString filler = folder() + u"/filler"_qs;
        if (fullDisk) {
            if (::geteuid() != 0 ||
                QProcess::execute(u"mount"_qs, {u"-t"_qs, u"tmpfs"_qs, u"-o"_qs, u"size=64k"_qs, u"none"_qs,
                                                folder()}) != 0)
                QSKIP("a small tmpfs needs root");
        }
        const auto unmount = qScopeGuard([&] {
            if (fullDisk)
                QProcess::execute(u"umount"_qs, {folder()});
        });
        FileDefaults defaults(path());
        QVERIFY(defaults.setString(u"email"_qs, u"old@example.com"_qs));
        const QByteArray before = readAll(path());
        bool stored = true;
        if (fullDisk) {
            QFile fill(filler);
            QVERIFY(fill.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            while (fill.write(QByteArray(512, 'f')) > 0) {
            }
            stored = defaults.setString(u"configs"_qs, QString(2 * 1024, u'x'));
        } else {
            const FileSizeLimit limit(4096);
            stored = defaults.setString(u"configs"_qs, QString(64 * 1024, u'x'));
        }

        QVERIFY(!stored);
        QVERIFY2(defaults.lastWriteError().startsWith(u"нет места на диске"_qs),
                 qPrintable(defaults.lastWriteError()));
        QCOMPARE(readAll(path()), before);
        QCOMPARE(QDir(folder()).entryList({u"defaults.json*"_qs}, QDir::Files | QDir::Hidden),
                 QStringList{u"defaults.json"_qs});
        QCOMPARE(defaults.string(u"configs"_qs), std::nullopt); // what was not saved is not held either
        QFile::remove(filler);
        QVERIFY(defaults.setString(u"email"_qs, u"new@example.com"_qs));
        QCOMPARE(FileDefaults(path()).string(u"email"_qs), u"new@example.com"_qs);
    }
};

QTEST_GUILESS_MAIN(TestFileDefaults)
#include "tst_file_defaults.moc"
