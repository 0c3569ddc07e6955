// The app's own files when the system pushes back: any umask, leftovers of a killed process. (A
// file-size limit: the settings and tunnel file tests, under the app's own SIGXFSZ handling.)
#include "platform/Defaults.h"
#include "platform/LinuxTunnelSystem.h"
#include "platform/TunnelPaths.h"
#include "support/Drive.h"
#include "support/FileChecks.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

class OwnFilesTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    // With umask 000 every folder the app makes is still 0700, parents included.
    void foldersArePrivateWhateverTheUmask() {
        const mode_t saved = ::umask(0);
        const QString config = m_dir.filePath("home/.config");
        FileDefaults defaults(config + "/vemko-vpn/defaults.json");
        defaults.setValue("auto_connect", true);
        LinuxTunnelSystem tunnels("/nonexistent/vemko-tunnel",
                                  m_dir.filePath("xdg/cfg/vemko-vpn/tunnel.json"),
                                  m_dir.filePath("run/vemko-vpn"));
        auto manager = tunnels.create();
        const bool saved_ok = runTask(manager->save());
        ::umask(saved);
        QVERIFY(saved_ok);
        for (const QString& folder :
             {m_dir.filePath("home"), config, config + "/vemko-vpn", m_dir.filePath("xdg"),
              m_dir.filePath("xdg/cfg"), m_dir.filePath("xdg/cfg/vemko-vpn"), m_dir.filePath("run"),
              m_dir.filePath("run/vemko-vpn")})
            QVERIFY2(modeOf(folder) == 0700, qPrintable(folder + ' ' + QString::number(modeOf(folder), 8)));
        QCOMPARE(modeOf(config + "/vemko-vpn/defaults.json"), 0600);
        QCOMPARE(modeOf(m_dir.filePath("xdg/cfg/vemko-vpn/tunnel.json")), 0600);
    }

    // Without XDG_RUNTIME_DIR the runtime folder is in the user's own state folder, never a name in
    // a shared temporary folder that another user could make first; a link in its place is refused.
    void theRuntimeFolderIsTheUsersOwn() {
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_STATE_HOME", QFile::encodeName(m_dir.filePath("state")));
        const QString folder = TunnelPaths::defaultRuntimeDir();
        qputenv("XDG_RUNTIME_DIR", runtime);
        QCOMPARE(folder, m_dir.filePath("state/vemko-vpn/run"));
        QVERIFY(QFile::link(m_dir.path(), m_dir.filePath("elsewhere")));
        QVERIFY(!TunnelPaths::ensurePrivateDir(m_dir.filePath("elsewhere")));
    }

    // Temporary copies a killed process left beside the files are cleared when the app starts;
    // anything else of a similar name stays.
    void leftoverTemporariesAreCleared() {
        const QString folder = m_dir.filePath("left/vemko-vpn");
        QVERIFY(TunnelPaths::ensurePrivateDir(folder));
        const QStringList leftovers{"tunnel.json.Ab12Cd", "defaults.json.x9Y8z7"};
        const QStringList kept{"tunnel.json", "tunnel.json.keep", "tunnel.json.corrupt-20260101-120000",
                               "other.json.Ab12Cd"};
        for (const QString& name : leftovers + kept) {
            QFile file(folder + '/' + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        FileDefaults defaults(folder + "/defaults.json");
        LinuxTunnelSystem tunnels("/nonexistent/vemko-tunnel", folder + "/tunnel.json",
                                  m_dir.filePath("left/run"));
        QStringList expected = kept;
        expected.sort();
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
    }
};

QTEST_GUILESS_MAIN(OwnFilesTest)
#include "tst_own_files.moc"
