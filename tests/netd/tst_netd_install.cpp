// The root-run install step of the helper (vemko-netd-install) for real, as root, into a temporary
// root folder: everything in place with the right owner and mode, or nothing at all. And how the app
// has root run it: from root's own copy of the staged files, never from one swapped meanwhile.
#include "platform/HelperInstaller.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString step = QStringLiteral(VEMKO_SOURCE_DIR "/src/netd/vemko-netd-install");

void write(const QString& path, const QByteArray& content, QFile::Permissions permissions = {}) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    if (permissions)
        file.setPermissions(permissions);
}

QStringList filesUnder(const QString& folder) {
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(it.next().mid(folder.size()));
    found.sort();
    return found;
}

unsigned mode(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

} // namespace

class NetdInstall : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (::geteuid() != 0)
            QSKIP("the install step runs as root");
    }

    void installsAllOrNothing_data() {
        QTest::addColumn<QStringList>("bundle"); // what the folder to install from holds
        QTest::addColumn<bool>("accounts");      // the root has its account files
        QTest::addColumn<int>("runs");
        QTest::addColumn<QString>("error"); // "" : it succeeds
        const QStringList all{"vemko-netd", "app.vemko.vpn.netd.policy"};
        QTest::newRow("fresh") << all << true << 1 << "";
        QTest::newRow("again: the user is there") << all << true << 2 << "";
        QTest::newRow("no polkit action") << QStringList{"vemko-netd"} << true << 1 << "no polkit action";
        QTest::newRow("the user cannot be made") << all << false << 1 << "could not create the system user";
    }
    void installsAllOrNothing() {
        QFETCH(QStringList, bundle);
        QFETCH(bool, accounts);
        QFETCH(int, runs);
        QFETCH(QString, error);
        QTemporaryDir temp;
        const QString from = temp.filePath("bundle");
        const QString root = temp.filePath("root");
        QDir().mkpath(root);
        for (const QString& name : bundle)
            write(from + '/' + name, name.toUtf8(),
                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser | QFile::ExeUser);
        if (accounts)
            for (const char* name : {"passwd", "group", "shadow", "gshadow"})
                write(root + "/etc/" + name, {});

        QProcess process;
        for (int run = 0; run < runs; ++run) {
            process.start("/bin/sh", {step, from, root});
            QVERIFY(process.waitForFinished(60000));
        }
        const QString stderrText = QString::fromUtf8(process.readAllStandardError());
        if (!error.isEmpty()) {
            QCOMPARE(process.exitCode(), 1);
            QVERIFY2(stderrText.contains(error), qPrintable(stderrText));
            QVERIFY2(!QFileInfo::exists(root + "/usr") || filesUnder(root + "/usr").isEmpty(),
                     qPrintable(filesUnder(root + "/usr").join(' ')));
            return;
        }
        QVERIFY2(process.exitCode() == 0, qPrintable(stderrText));
        QCOMPARE(filesUnder(root + "/usr"),
                 (QStringList{"/libexec/vemko-vpn/vemko-netd",
                              "/share/polkit-1/actions/app.vemko.vpn.netd.policy"}));
        const QFileInfo helper(root + "/usr/libexec/vemko-vpn/vemko-netd");
        QCOMPARE(helper.ownerId(), 0u);
        QCOMPARE(helper.groupId(), 0u);
        QCOMPARE(mode(helper.filePath()), 0755u);
        const QFileInfo action(root + "/usr/share/polkit-1/actions/app.vemko.vpn.netd.policy");
        QCOMPARE(action.ownerId(), 0u);
        QCOMPARE(mode(action.filePath()), 0644u);
        QFile passwd(root + "/etc/passwd");
        QVERIFY(passwd.open(QIODevice::ReadOnly));
        const QList<QByteArray> users = passwd.readAll().split('\n');
        QCOMPARE(int(std::count_if(users.begin(), users.end(),
                                   [](const QByteArray& line) { return line.startsWith("vemko-engine:"); })),
                 1);
    }

    // Root runs only what was hashed before the prompt; a file swapped while it was up is refused.
    void installsOnlyWhatWasChecked_data() {
        QTest::addColumn<QString>("swap"); // what another process of the user does meanwhile
        QTest::newRow("untouched") << "";
        QTest::newRow("install step swapped") << "vemko-netd-install";
        QTest::newRow("helper swapped") << "vemko-netd";
    }
    void installsOnlyWhatWasChecked() {
        QFETCH(QString, swap);
        QTemporaryDir temp;
        const QString marker = temp.filePath("ran");
        // A stand-in step that tells where it ran from, and the rest of the bundle.
        write(temp.filePath("bundle/vemko-netd-install"),
              QStringLiteral("stat -c '%U %a' \"$1\" >%1; ls \"$1\" >>%1\n").arg(marker).toUtf8());
        write(temp.filePath("bundle/vemko-netd"), "helper");
        write(temp.filePath("bundle/app.vemko.vpn.netd.policy"), "policy");
        // pkexec's stand-in: the swap happens after the hashes are fixed, before root looks.
        const QStringList elevate{
            "sh", "-c", swap.isEmpty() ? "exec \"$@\"" : "echo evil >\"$5/" + swap + "\"; exec \"$@\"",
            "pkexec"};
        HelperInstaller installer(elevate, temp.filePath("bundle"),
                                  [&] { return QFileInfo::exists(marker); });
        installer.install();
        QTRY_VERIFY_WITH_TIMEOUT(!installer.running(), 60000);
        if (!swap.isEmpty()) {
            QVERIFY(installer.failure().has_value());
            QVERIFY2(installer.failure()->contains("изменились"), qPrintable(*installer.failure()));
            QVERIFY(!QFileInfo::exists(marker));
            return;
        }
        QCOMPARE(installer.failure(), std::nullopt);
        QFile ran(marker);
        QVERIFY(ran.open(QIODevice::ReadOnly));
        QCOMPARE(ran.readAll(),
                 QByteArray("root 700\napp.vemko.vpn.netd.policy\nvemko-netd\nvemko-netd-install\n"));
    }
};

QTEST_GUILESS_MAIN(NetdInstall)
#include "tst_netd_install.moc"
