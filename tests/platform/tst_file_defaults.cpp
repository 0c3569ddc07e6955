#include "platform/Defaults.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <limits>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// The mode bits as the kernel has them (Qt's permissions add the "user" flags for our own files).
int mode(const QString& path) {
    struct stat info {};
    return stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

QStringList corruptCopies(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("defaults.json.corrupt-*")}, QDir::Files, QDir::Name);
}

// Lowers the file-size limit so writes past it fail as on a full disk (this binds root too).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = m_saved;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_savedHandler);
    }

private:
    rlimit m_saved{};
    void (*m_savedHandler)(int) = nullptr;
};

} // namespace

class TestFileDefaults : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString folder() const { return m_dir.path() + QStringLiteral("/config/vemko-vpn"); }
    QString path() const { return folder() + QStringLiteral("/defaults.json"); }

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        QDir(m_dir.path() + QStringLiteral("/config")).removeRecursively();
    }

    void defaultPathFollowsXdgConfigHome() {
        const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
        const QByteArray savedHome = qgetenv("HOME");
        qputenv("HOME", "/home/someone");
        qputenv("XDG_CONFIG_HOME", "/srv/cfg");
        QCOMPARE(FileDefaults::defaultPath(), u"/srv/cfg/vemko-vpn/defaults.json"_qs);
        qputenv("XDG_CONFIG_HOME", "relative/cfg");
        QCOMPARE(FileDefaults::defaultPath(), u"/home/someone/.config/vemko-vpn/defaults.json"_qs);
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(FileDefaults::defaultPath(), u"/home/someone/.config/vemko-vpn/defaults.json"_qs);
        qputenv("HOME", savedHome);
        if (!savedConfig.isNull())
            qputenv("XDG_CONFIG_HOME", savedConfig);
    }

    void fileAndFolderAreOwnerOnly() {
        FileDefaults defaults(path());
        QVERIFY(!QFile::exists(path())); // nothing is written before the first value
        defaults.setString(u"hwid"_qs, u"0123"_qs);
        QCOMPARE(mode(path()), 0600);
        QCOMPARE(mode(folder()), 0700);

        // A file someone made world-readable is owner-only again after the next write.
        QVERIFY(
            QFile::setPermissions(path(), QFile::permissions(path()) | QFile::ReadOther | QFile::ReadGroup));
        QCOMPARE(mode(path()), 0644);
        defaults.setBoolean(u"auto_update"_qs, false);
        QCOMPARE(mode(path()), 0600);
    }

    void valuesSurviveReopen() {
        constexpr qint64 beyondDouble = (qint64(1) << 53) + 1;
        const QJsonObject object{{u"nested"_qs, QJsonArray{1, u"два"_qs, true}}};
        {
            FileDefaults defaults(path());
            defaults.setString(u"email"_qs, u"юзер@почта.рф \"quoted\"\n"_qs);
            defaults.setString(u"empty"_qs, QString());
            defaults.setBoolean(u"auto_connect"_qs, false);
            defaults.setBoolean(u"was_connected"_qs, true);
            defaults.setInteger(u"max"_qs, std::numeric_limits<qint64>::max());
            defaults.setInteger(u"min"_qs, std::numeric_limits<qint64>::min());
            defaults.setInteger(u"odd"_qs, beyondDouble);
            defaults.setInteger(u"zero"_qs, 0);
            defaults.setValue(u"object"_qs, object);
            defaults.setString(u"overwritten"_qs, u"first"_qs);
            defaults.setString(u"overwritten"_qs, u"second"_qs);
        }
        const FileDefaults reopened(path());
        QCOMPARE(reopened.string(u"email"_qs), u"юзер@почта.рф \"quoted\"\n"_qs);
        QCOMPARE(reopened.string(u"empty"_qs), QString());
        QCOMPARE(reopened.boolean(u"auto_connect"_qs), false);
        QCOMPARE(reopened.boolean(u"was_connected"_qs), true);
        QCOMPARE(reopened.integer(u"max"_qs), std::numeric_limits<qint64>::max());
        QCOMPARE(reopened.integer(u"min"_qs), std::numeric_limits<qint64>::min());
        QCOMPARE(reopened.integer(u"odd"_qs), beyondDouble);
        QCOMPARE(reopened.integer(u"zero"_qs), qint64(0));
        QCOMPARE(reopened.value(u"object"_qs), QJsonValue(object));
        QCOMPARE(reopened.string(u"overwritten"_qs), u"second"_qs);
        QCOMPARE(reopened.value(u"absent"_qs), std::nullopt);
    }

    void textFalseStaysText() {
        {
            FileDefaults defaults(path());
            defaults.setString(u"auto_connect"_qs, u"false"_qs);
        }
        const FileDefaults reopened(path());
        QCOMPARE(reopened.boolean(u"auto_connect"_qs), std::nullopt);
        QCOMPARE(reopened.string(u"auto_connect"_qs), u"false"_qs);
    }

    void badFileIsMovedAside_data() {
        QTest::addColumn<QByteArray>("bad");
        QTest::newRow("garbage") << QByteArray("not json at all \x01\xff");
        QTest::newRow("truncated") << QByteArray("{\"hwid\": \"0123\", \"email\": \"a@");
        QTest::newRow("array") << QByteArray("[{\"hwid\": \"0123\"}]");
        QTest::newRow("string") << QByteArray("\"hwid\"");
        QTest::newRow("empty") << QByteArray();
    }
    void badFileIsMovedAside() {
        QFETCH(QByteArray, bad);
        QVERIFY(QDir().mkpath(folder()));
        writeFile(path(), bad);

        FileDefaults defaults(path());
        QCOMPARE(defaults.value(u"hwid"_qs), std::nullopt);
        QVERIFY(!QFile::exists(path()));
        const QStringList kept = corruptCopies(folder());
        QCOMPARE(kept.size(), 1);
        QVERIFY2(
            QRegularExpression(u"^defaults\\.json\\.corrupt-\\d{8}-\\d{6}$"_qs).match(kept[0]).hasMatch(),
            qPrintable(kept[0]));
        QCOMPARE(contents(folder() + u'/' + kept[0]), bad);

        defaults.setString(u"hwid"_qs, u"fresh"_qs);
        QCOMPARE(FileDefaults(path()).string(u"hwid"_qs), u"fresh"_qs);
        QCOMPARE(contents(folder() + u'/' + kept[0]), bad);
    }

    void unreadableFileIsMovedAside() {
        QVERIFY(QDir().mkpath(folder()));
        writeFile(path(), "{\"hwid\": \"0123\"}");
        QVERIFY(QFile::setPermissions(path(), QFileDevice::Permissions()));
        if (QFile(path()).open(QIODevice::ReadOnly))
            QSKIP("file permissions do not bind this user (root)");

        FileDefaults defaults(path());
        QCOMPARE(defaults.value(u"hwid"_qs), std::nullopt);
        QVERIFY(!QFile::exists(path()));
        QCOMPARE(corruptCopies(folder()).size(), 1);
    }

    // A bad file that cannot be moved aside is never replaced by a fresh store.
    void badFileThatCannotMoveStays() {
        QVERIFY(QDir().mkpath(folder()));
        writeFile(path(), "{ bad");
        QVERIFY(QFile::setPermissions(folder(), QFile::ReadOwner | QFile::ExeOwner));
        const bool bindsUs = !QFile(folder() + u"/probe"_qs).open(QIODevice::WriteOnly);
        if (bindsUs) {
            FileDefaults defaults(path());
            QVERIFY(QFile::setPermissions(folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
            defaults.setString(u"hwid"_qs, u"fresh"_qs);
            QCOMPARE(defaults.string(u"hwid"_qs), u"fresh"_qs);
        }
        QVERIFY(QFile::setPermissions(folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        if (!bindsUs)
            QSKIP("folder permissions do not bind this user (root)");
        QCOMPARE(contents(path()), QByteArray("{ bad"));
        QVERIFY(corruptCopies(folder()).isEmpty());
    }

    // Two bad files within the same second both stay.
    void earlierCopyIsNeverOverwritten() {
        QVERIFY(QDir().mkpath(folder()));
        writeFile(path(), "first bad");
        FileDefaults first(path());
        writeFile(path(), "second bad");
        FileDefaults second(path());

        QStringList kept;
        for (const QString& name : corruptCopies(folder()))
            kept << QString::fromUtf8(contents(folder() + u'/' + name));
        kept.sort();
        QCOMPARE(kept, (QStringList{u"first bad"_qs, u"second bad"_qs}));
    }

    void unwritableFolderKeepsOldFile() {
        FileDefaults defaults(path());
        defaults.setString(u"email"_qs, u"old@example.com"_qs);
        const QByteArray before = contents(path());

        QVERIFY(QFile::setPermissions(folder(), QFile::ReadOwner | QFile::ExeOwner));
        const bool bindsUs = !QFile(folder() + u"/probe"_qs).open(QIODevice::WriteOnly);
        defaults.setString(u"email"_qs, u"new@example.com"_qs);
        const QByteArray after = contents(path());
        const QStringList leftovers = QDir(folder()).entryList(QDir::Files | QDir::Hidden);
        QVERIFY(QFile::setPermissions(folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        if (!bindsUs)
            QSKIP("folder permissions do not bind this user (root); the file-size test covers failed writes");

        QCOMPARE(after, before);
        QCOMPARE(leftovers, QStringList{u"defaults.json"_qs});
        QCOMPARE(defaults.string(u"email"_qs), u"new@example.com"_qs); // kept for this run
        QCOMPARE(FileDefaults(path()).string(u"email"_qs), u"old@example.com"_qs);
    }

    void failedWriteKeepsOldFile() {
        FileDefaults defaults(path());
        defaults.setString(u"email"_qs, u"old@example.com"_qs);
        const QByteArray before = contents(path());
        {
            const FileSizeLimit limit(4096);
            defaults.setString(u"configs"_qs, QString(64 * 1024, u'x'));
        }
        QCOMPARE(contents(path()), before);
        QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden), QStringList{u"defaults.json"_qs});
        QCOMPARE(FileDefaults(path()).string(u"email"_qs), u"old@example.com"_qs);

        // Once space is back, the next write stores everything.
        defaults.setString(u"email"_qs, u"new@example.com"_qs);
        const FileDefaults reopened(path());
        QCOMPARE(reopened.string(u"email"_qs), u"new@example.com"_qs);
        QCOMPARE(reopened.string(u"configs"_qs)->size(), 64 * 1024);
    }
};

QTEST_GUILESS_MAIN(TestFileDefaults)
#include "tst_file_defaults.moc"
