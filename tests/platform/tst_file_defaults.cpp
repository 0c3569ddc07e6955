#include "platform/Defaults.h"
#include "support/FileChecks.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <limits>

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
    // replaced by a fresh store; the values still hold for this run.
    void badFileThatCannotMoveStays() {
        const QString longPath = folder() + u'/' + QString(245, u'd');
        QVERIFY(writeFile(longPath, "{ bad"));
        FileDefaults defaults(longPath);
        defaults.setString(u"hwid"_qs, u"fresh"_qs);
        QCOMPARE(defaults.string(u"hwid"_qs), u"fresh"_qs);
        QCOMPARE(readAll(longPath), QByteArray("{ bad"));
        QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    // A write that fails part-way (file-size limit, as on a full disk; binds root too) leaves the
    // old file whole and no temporary behind; once space is back the next write stores all.
    void failedWriteKeepsOldFile() {
        FileDefaults defaults(path());
        defaults.setString(u"email"_qs, u"old@example.com"_qs);
        const QByteArray before = readAll(path());
        {
            const FileSizeLimit limit(4096);
            defaults.setString(u"configs"_qs, QString(64 * 1024, u'x'));
        }

        QCOMPARE(readAll(path()), before);
        QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden), QStringList{u"defaults.json"_qs});
        defaults.setString(u"email"_qs, u"new@example.com"_qs);
        const FileDefaults reopened(path());
        QCOMPARE(reopened.string(u"email"_qs), u"new@example.com"_qs);
        QCOMPARE(reopened.string(u"configs"_qs)->size(), 64 * 1024);
    }
};

QTEST_GUILESS_MAIN(TestFileDefaults)
#include "tst_file_defaults.moc"
