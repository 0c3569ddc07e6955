// The settings file shared by the window and vemkoctl: two processes writing different keys at
// once keep both, and a running process sees what another one wrote.

#include "platform/Defaults.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int writes = 150;

// Child mode: `<test> --write PATH KEY` stores KEY = 0 … writes-1, one write at a time.
int writeKeys(const QString& path, const QString& key) {
    FileDefaults defaults(path);
    for (int i = 0; i < writes; ++i)
        defaults.setInteger(key, i);
    return 0;
}

} // namespace

class TestSharedDefaults : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path() const { return m_dir.path() + u"/vemko-vpn/defaults.json"_qs; }

private slots:
    void twoProcessesKeepEachOthersKeys() {
        FileDefaults watcher(path());
        watcher.setString(u"email"_qs, u"u@example.com"_qs);

        QProcess first;
        QProcess second;
        const QString self = QCoreApplication::applicationFilePath();
        first.start(self, {u"--write"_qs, path(), u"profile_name_writes"_qs});
        second.start(self, {u"--write"_qs, path(), u"auto_connect_writes"_qs});
        QVERIFY(first.waitForFinished(60000) && second.waitForFinished(60000));
        QCOMPARE(first.exitCode(), 0);
        QCOMPARE(second.exitCode(), 0);

        // Nobody's key was lost, and this process (which read the file long before) sees both.
        QCOMPARE(watcher.integer(u"profile_name_writes"_qs), writes - 1);
        QCOMPARE(watcher.integer(u"auto_connect_writes"_qs), writes - 1);
        QCOMPARE(watcher.string(u"email"_qs), u"u@example.com"_qs);
        // Our next write keeps theirs too.
        watcher.setBoolean(u"auto_update"_qs, false);
        const FileDefaults reopened(path());
        QCOMPARE(reopened.integer(u"auto_connect_writes"_qs), writes - 1);
        QCOMPARE(reopened.boolean(u"auto_update"_qs), false);
    }
};

int main(int argc, char** argv) {
    if (argc == 4 && qstrcmp(argv[1], "--write") == 0)
        return writeKeys(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    QCoreApplication app(argc, argv);
    TestSharedDefaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_shared_defaults.moc"
