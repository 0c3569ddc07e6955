// The privilege path for real: a desktop user -> pkexec -> polkitd -> vemko-netd, with the
// product's polkit action and its optional "netdev" rule. Needs root (it installs the helper where
// the action names it, and starts a system bus and polkitd when the machine has none); everything
// it adds is removed again. The helper only reports its status, inside a namespace of its own.
#include "support/NetnsTopology.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <QThread>
#include <csignal>
#include <sys/stat.h>

using NetnsTopology::Result;
using NetnsTopology::run;

namespace {

const QString installed = QStringLiteral("/usr/libexec/vemko-vpn/vemko-netd");
const QString action = QStringLiteral("/usr/share/polkit-1/actions/app.vemko.vpn.netd.policy");
const QString rule = QStringLiteral("/etc/polkit-1/rules.d/50-vemko-netd.rules");
const QString ns = QStringLiteral("vemko-t-polkit");
const QString allowed = QStringLiteral("vemko-t-allowed");
const QString refused = QStringLiteral("vemko-t-refused");

Result host(const QStringList& command) {
    return run(command, {}, std::nullopt);
}

// pkexec as `user`, without a terminal: nobody could type a password.
Result pkexecAs(const QString& user, const QStringList& arguments) {
    return run(QStringList{"setsid", "su", user, "-s", "/bin/sh", "-c",
                           "pkexec " + installed + " " + arguments.join(' ')},
               {}, ns);
}

bool systemBusUp() {
    return host({"dbus-send", "--system", "--print-reply", "--dest=org.freedesktop.DBus",
                 "/org/freedesktop/DBus", "org.freedesktop.DBus.GetId"})
               .exitCode == 0;
}

bool policyServiceUp() {
    return host({"dbus-send", "--system", "--print-reply", "--dest=org.freedesktop.DBus",
                 "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                 "string:org.freedesktop.PolicyKit1"})
        .out.contains("boolean true");
}

} // namespace

class NetdPolkit : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (const auto why = NetnsTopology::unavailable())
            QSKIP(qPrintable(*why));
        for (const char* tool : {"pkexec", "dbus-daemon", "su"})
            QVERIFY2(!host({"sh", "-c", QStringLiteral("command -v %1").arg(tool)}).out.isEmpty(), tool);
        QVERIFY2(QFileInfo::exists("/usr/lib/polkit-1/polkitd"), "polkitd is not installed");
        if (QFileInfo::exists(installed))
            QSKIP("a vemko-netd is installed on this machine; the test does not replace it");
        QVERIFY(QDir().mkpath(QFileInfo(installed).absolutePath()));
        m_installedDir = true;
        QVERIFY(QFile::copy(qEnvironmentVariable("VEMKO_BUILD_DIR") + "/bin/vemko-netd", installed));
        QVERIFY(QFile::copy(QStringLiteral(VEMKO_SOURCE_DIR "/src/netd/app.vemko.vpn.netd.policy"), action));
        QVERIFY(QFile::copy(QStringLiteral(VEMKO_SOURCE_DIR "/src/netd/50-vemko-netd.rules"), rule));
        if (host({"getent", "group", "netdev"}).exitCode != 0) {
            QCOMPARE(host({"groupadd", "--system", "netdev"}).exitCode, 0);
            m_createdGroup = true;
        }
        host({"userdel", allowed});
        host({"userdel", refused});
        QCOMPARE(host({"useradd", "--no-create-home", "-G", "netdev", allowed}).exitCode, 0);
        QCOMPARE(host({"useradd", "--no-create-home", refused}).exitCode, 0);
        host({"ip", "netns", "del", ns});
        QCOMPARE(host({"ip", "netns", "add", ns}).exitCode, 0);

        if (!systemBusUp()) {
            // A socket left by a bus that is gone would stop a new one from starting.
            QFile::remove("/run/dbus/system_bus_socket");
            QFile::remove("/run/dbus/pid");
            QDir().mkpath("/run/dbus");
            const Result bus = host({"dbus-daemon", "--system", "--fork", "--print-pid"});
            QCOMPARE(bus.exitCode, 0);
            m_bus = bus.out.trimmed().toLongLong();
        }
        if (!policyServiceUp()) {
            m_polkitd.start("/usr/lib/polkit-1/polkitd", {"--no-debug"});
            QVERIFY(m_polkitd.waitForStarted());
        }
        QTRY_VERIFY_WITH_TIMEOUT(policyServiceUp(), 20000);
    }

    void cleanupTestCase() {
        if (m_polkitd.state() != QProcess::NotRunning) {
            m_polkitd.terminate();
            m_polkitd.waitForFinished(5000);
        }
        if (m_bus > 0) {
            ::kill(pid_t(m_bus), SIGTERM);
            QTRY_VERIFY_WITH_TIMEOUT(!systemBusUp(), 20000);
            QFile::remove("/run/dbus/system_bus_socket");
            QFile::remove("/run/dbus/pid");
        }
        // The helper's state for that namespace goes with it.
        if (const QString folder = NetnsTopology::helperStateFolder(ns); !folder.isEmpty()) {
            QDir(folder).removeRecursively();
            QFile::remove(folder + ".status");
        }
        host({"ip", "netns", "del", ns});
        host({"userdel", allowed});
        host({"userdel", refused});
        if (m_createdGroup)
            host({"groupdel", "netdev"});
        QFile::remove(rule);
        QFile::remove(action);
        if (m_installedDir) {
            QFile::remove(installed);
            QDir().rmdir(QFileInfo(installed).absolutePath());
        }
    }

    void onlyAllowedCallersReachTheHelper_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("says");
        QTest::newRow("member of netdev") << allowed << QStringList{"status"} << 0 << QByteArray("down");
        QTest::newRow("another user")
            << refused << QStringList{"status"} << 127 << QByteArray("Not authorized");
        QTest::newRow("member, extra argument")
            << allowed << QStringList{"status", "--evil"} << 2 << QByteArray("usage");
    }
    void onlyAllowedCallersReachTheHelper() {
        QFETCH(QString, user);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, says);
        const Result result = pkexecAs(user, arguments);
        QVERIFY2(result.exitCode == exitCode, (result.out + result.err).constData());
        QVERIFY2((result.out + result.err).contains(says), (result.out + result.err).constData());
    }

private:
    QProcess m_polkitd;
    qint64 m_bus = 0;
    bool m_createdGroup = false;
    bool m_installedDir = false;
};

QTEST_GUILESS_MAIN(NetdPolkit)
#include "tst_netd_polkit.moc"
