// The desktop's proxy settings under a private D-Bus session with the dconf backend, as GNOME
// programs read them: set and read back, restored exactly (keys never set stay unset), put back
// when the tunnel host is killed with no app running, or else at the next start (the first backup
// kept across a crash), and no session bus reported instead of ignored.
#include "platform/DesktopProxy.h"
#include "platform/LinuxTunnelSystem.h"
#include "platform/PlatformError.h"
#include "platform/TunnelHostState.h"
#include "platform/TunnelMode.h"
#include "support/NetnsTopology.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr char insideMarker[] = "VEMKO_TEST_PRIVATE_DCONF";

QString gsettings(const QStringList& arguments) {
    QProcess process;
    process.start("gsettings", arguments);
    process.waitForFinished(30000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QString get(const QString& schema, const QString& key) {
    return gsettings({"get", schema, key});
}

void set(const QString& schema, const QString& key, const QString& value) {
    gsettings({"set", schema, key, value});
}

QString dump() {
    QProcess process;
    process.start("dconf", {"dump", "/system/proxy/"});
    process.waitForFinished(30000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

class TestDesktopProxy : public QObject {
    Q_OBJECT
public:
    explicit TestDesktopProxy(QString missing) : m_missing(std::move(missing)) {}

private slots:
    void initTestCase() {
        if (!m_missing.isEmpty())
            QFAIL(qPrintable(m_missing));
    }
    void init() {
        QProcess::execute("dconf", {"reset", "-f", "/system/proxy/"});
        QDir(m_state.path()).removeRecursively();
    }

    void pointsGnomeAtTheTunnelAndRestoresExactly() {
        // The user's own settings: an exclusion list and an HTTP proxy, the SOCKS keys never set.
        set("org.gnome.system.proxy", "ignore-hosts", "['intranet.example', '10.0.0.0/8']");
        set("org.gnome.system.proxy.http", "host", "'proxy.corp'");
        set("org.gnome.system.proxy.http", "port", "3128");
        const QString before = dump();
        QVERIFY(before.contains("proxy.corp"));

        DesktopProxy proxy(m_state.path());
        proxy.apply(10808, 10809);
        QCOMPARE(get("org.gnome.system.proxy", "mode"), QStringLiteral("'manual'"));
        QCOMPARE(get("org.gnome.system.proxy.socks", "host"), QStringLiteral("'127.0.0.1'"));
        QCOMPARE(get("org.gnome.system.proxy.socks", "port"), QStringLiteral("10808"));
        QCOMPARE(get("org.gnome.system.proxy.https", "port"), QStringLiteral("10809"));
        QVERIFY(proxy.backupPresent());

        proxy.restore();
        QCOMPARE(dump(), before);
        QCOMPARE(get("org.gnome.system.proxy", "mode"), QStringLiteral("'none'"));
        QVERIFY(!proxy.backupPresent());
    }

    // The tunnel host is killed and no app runs: its guard puts the user's settings back.
    void aKilledHostsSettingsComeBack() {
        set("org.gnome.system.proxy", "mode", "'auto'");
        const QString before = dump();
        QTemporaryDir run;
        QFile engine(run.filePath("engine"));
        QVERIFY(engine.open(QIODevice::WriteOnly));
        engine.write(
            "#!/bin/sh\n[ \"$1\" != -version ] || { echo 'V2Ray 4.34.0 (V2Fly)'; exit; }\nexec sleep 600\n");
        engine.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        engine.close();
        QProcess host;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("VEMKO_ENGINE", engine.fileName());
        host.setProcessEnvironment(environment);
        host.start(qEnvironmentVariable("VEMKO_BUILD_DIR") + "/bin/vemko-tunnel",
                   {"--runtime-dir", run.filePath("run"), "--desktop-proxy"});
        host.write(NetnsTopology::clientDocument());
        host.waitForBytesWritten(20000);
        host.closeWriteChannel();
        QTRY_VERIFY_WITH_TIMEOUT(HostFiles::readState(run.filePath("run")).has_value(), 20000);
        DesktopProxy().apply(10808, 10809); // what the app does once connected
        host.kill();
        QTRY_COMPARE_WITH_TIMEOUT(dump(), before, 20000);
        QVERIFY(!DesktopProxy().backupPresent());
    }

    // Guard and host both gone (the app died while connected and applied again at the next connect
    // before): the next start of the app or vemkoctl puts the user's own settings back first thing.
    void theNextStartPutsThemBack() {
        set("org.gnome.system.proxy", "autoconfig-url", "'http://wpad/wpad.dat'");
        const QString before = dump();
        DesktopProxy().apply(10808, 10809);
        DesktopProxy().apply(10808, 10809);
        QTemporaryDir home;
        LinuxTunnelSystem atStart(home.filePath("vemko-tunnel"), home.filePath("tunnel.json"),
                                  home.filePath("run"));
        QTRY_COMPARE_WITH_TIMEOUT(dump(), before, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!DesktopProxy().backupPresent(), 20000);
    }

    // Without a session bus gsettings "succeeds" and writes nothing: that must be an error.
    void noSessionBusIsAnErrorNotASilentSuccess() {
        const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
        DesktopProxy proxy(m_state.path());
        bool refused = false;
        try {
            proxy.apply(10808, 10809);
        } catch (const PlatformError&) {
            refused = true;
        }
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
        QVERIFY(refused);
        QCOMPARE(get("org.gnome.system.proxy", "mode"), QStringLiteral("'none'"));
        QVERIFY(!QFile::exists(proxy.gnomeBackup()));
    }

    // Without a stored mode: the desktop's proxy only where a desktop follows it, so a connect
    // over SSH or from a bare session carries the SOCKS entry instead of failing.
    void theDefaultModeFollowsWhatTheMachineHas() {
        QCOMPARE(tunnel_mode::fallback(true, false), TunnelMode::System);
        QCOMPARE(tunnel_mode::fallback(true, true), TunnelMode::System);
        QCOMPARE(tunnel_mode::fallback(false, true), TunnelMode::DesktopProxy);
        QCOMPARE(tunnel_mode::fallback(false, false), TunnelMode::Socks);
    }

private:
    QString m_missing;
    QTemporaryDir m_state;
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList missing;
    for (const QString tool : {"dbus-run-session", "gsettings", "dconf"})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            missing << tool;
    if (missing.isEmpty() && qEnvironmentVariableIsEmpty(insideMarker)) {
        // A private session bus and a throw-away home: the machine's own settings are never touched.
        QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(insideMarker, "1");
        environment.insert("HOME", home.path());
        environment.insert("XDG_CONFIG_HOME", home.path() + "/config");
        environment.insert("XDG_RUNTIME_DIR", home.path() + "/run");
        environment.insert("XDG_STATE_HOME", home.path() + "/state");
        environment.insert("XDG_CACHE_HOME", home.path() + "/cache");
        environment.insert("GSETTINGS_BACKEND", "dconf");
        QDir(home.path()).mkpath("run");
        QFile::setPermissions(home.path() + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcess inside;
        inside.setProcessEnvironment(environment);
        inside.setProcessChannelMode(QProcess::ForwardedChannels);
        inside.start("dbus-run-session",
                     QStringList{"--", app.applicationFilePath()} + app.arguments().mid(1));
        inside.waitForFinished(-1);
        return inside.exitStatus() == QProcess::NormalExit ? inside.exitCode() : 1;
    }
    TestDesktopProxy test(missing.isEmpty()
                              ? QString()
                              : "the desktop proxy test needs " + missing.join(", ") + " (not installed)");
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktop_proxy.moc"
