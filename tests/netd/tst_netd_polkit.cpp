// The privilege path for real: a desktop user -> pkexec -> polkitd -> vemko-netd, with the
// product's polkit action. The person at the machine (an active local session) switches the tunnel
// without a prompt; an inactive session, or none (SSH, cron), needs the administrator, and so does
// installing the helper. Needs root (it installs the helper where the action names it, starts a
// system bus and polkitd when the machine has none, and describes two sessions the way logind does
// when no logind runs); everything it adds is removed again. The helper only reports its status,
// inside a namespace of its own.
#include "support/NetnsTopology.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <unistd.h>

using NetnsTopology::Result;
using NetnsTopology::run;

namespace {

const QString installed = QStringLiteral("/usr/libexec/vemko-vpn/vemko-netd");
const QString action = QStringLiteral("/usr/share/polkit-1/actions/app.vemko.vpn.netd.policy");
const QString ns = QStringLiteral("vemko-t-polkit");
const QString active = QStringLiteral("vemko-t-active");
const QString inactive = QStringLiteral("vemko-t-inactive");
// logind's record of sessions: a session is named by its process's cgroup (…/session-<id>.scope).
const QString sessions = QStringLiteral("/run/systemd/sessions/");
const QString users = QStringLiteral("/run/systemd/users/");
const QString cgroups = QStringLiteral("/sys/fs/cgroup/unified/vemko-test.slice");

Result host(const QStringList& command) {
    return run(command, {}, std::nullopt);
}

bool busHas(const QString& name) {
    return host({"dbus-send", "--system", "--print-reply", "--dest=org.freedesktop.DBus",
                 "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:" + name})
        .out.contains("boolean true");
}

bool systemBusUp() {
    return host({"dbus-send", "--system", "--print-reply", "--dest=org.freedesktop.DBus",
                 "/org/freedesktop/DBus", "org.freedesktop.DBus.GetId"})
               .exitCode == 0;
}

QString uid(const QString& user) {
    return QString::fromUtf8(host({"id", "-u", user}).out.trimmed());
}

// `command` through pkexec as `user`, from a process of `session` (none: as over SSH or from cron),
// without a terminal: nobody could type a password.
Result pkexecAs(const QString& user, const QString& session, const QString& command) {
    // The cgroup first: inside the namespace, `ip netns exec` shows a /sys of its own.
    const QString enter =
        session.isEmpty()
            ? QString()
            : QStringLiteral("echo $$ > %1/session-%2.scope/cgroup.procs; ").arg(cgroups, session);
    return host({"sh", "-c",
                 enter + "exec ip netns exec " + ns + " setsid su " + user + " -s /bin/sh -c 'pkexec " +
                     command + "'"});
}

void describeSession(const QString& id, const QString& user, bool isActive) {
    QDir().mkpath(QStringLiteral("%1/session-%2.scope").arg(cgroups, id));
    QFile session(sessions + id);
    QVERIFY(session.open(QIODevice::WriteOnly));
    session.write(QStringLiteral("UID=%1\nUSER=%2\nACTIVE=%3\nSTATE=%4\nSEAT=seat0\nREMOTE=0\n")
                      .arg(uid(user), user, isActive ? "1" : "0", isActive ? "active" : "online")
                      .toUtf8());
    QFile record(users + uid(user));
    QVERIFY(record.open(QIODevice::WriteOnly));
    record.write(isActive ? "STATE=active\n" : "STATE=online\n");
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
        if (!QFileInfo(cgroups).absoluteDir().exists() || !QDir(sessions).exists() || !QDir(users).exists())
            QSKIP("no writable cgroup2 hierarchy at /sys/fs/cgroup/unified or no /run/systemd here");
        if (!systemBusUp()) {
            // A socket left by a bus that is gone would stop a new one from starting.
            QFile::remove("/run/dbus/system_bus_socket");
            QFile::remove("/run/dbus/pid");
            QDir().mkpath("/run/dbus");
            const Result bus = host({"dbus-daemon", "--system", "--fork", "--print-pid"});
            QCOMPARE(bus.exitCode, 0);
            m_bus = bus.out.trimmed().toLongLong();
        }
        if (busHas("org.freedesktop.login1"))
            QSKIP("logind runs here: the sessions are its own to describe");
        QVERIFY(QDir().mkpath(QFileInfo(installed).absolutePath()));
        m_installedDir = true;
        QVERIFY(QFile::copy(qEnvironmentVariable("VEMKO_BUILD_DIR") + "/bin/vemko-netd", installed));
        QVERIFY(QFile::copy(QStringLiteral(VEMKO_SOURCE_DIR "/src/netd/app.vemko.vpn.netd.policy"), action));
        for (const QString& user : {active, inactive}) {
            host({"userdel", user});
            QCOMPARE(host({"useradd", "--no-create-home", user}).exitCode, 0);
        }
        describeSession("vt1", active, true);
        describeSession("vt2", inactive, false);
        host({"ip", "netns", "del", ns});
        QCOMPARE(host({"ip", "netns", "add", ns}).exitCode, 0);
        if (!busHas("org.freedesktop.PolicyKit1")) {
            m_polkitd.start("/usr/lib/polkit-1/polkitd", {"--no-debug"});
            QVERIFY(m_polkitd.waitForStarted());
        }
        QTRY_VERIFY_WITH_TIMEOUT(busHas("org.freedesktop.PolicyKit1"), 20000);
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
        if (!m_installedDir)
            return;
        // The helper's state for that namespace goes with it.
        if (const QString folder = NetnsTopology::helperStateFolder(ns); !folder.isEmpty()) {
            QDir(folder).removeRecursively();
            QFile::remove(folder + ".status");
        }
        host({"ip", "netns", "del", ns});
        for (const QString& user : {active, inactive}) {
            QFile::remove(users + uid(user));
            host({"userdel", user});
        }
        for (const char* id : {"vt1", "vt2"}) {
            QFile::remove(sessions + id);
            QDir().rmdir(QStringLiteral("%1/session-%2.scope").arg(cgroups, id));
        }
        QDir().rmdir(cgroups);
        QFile::remove(action);
        QFile::remove(installed);
        QDir().rmdir(QFileInfo(installed).absolutePath());
    }

    void onlyThePersonAtTheMachineSwitchesWithoutAPrompt_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("session");
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("says");
        const QString status = installed + " status";
        QTest::newRow("active session") << active << "vt1" << status << 0 << QByteArray("down");
        QTest::newRow("inactive session") << inactive << "vt2" << status << 127 << QByteArray();
        QTest::newRow("no session (SSH, cron)") << active << "" << status << 127 << QByteArray();
        QTest::newRow("active, extra argument")
            << active << "vt1" << status + " --evil" << 2 << QByteArray("usage");
        // The install step runs as /bin/sh through pkexec: the administrator's to allow.
        QTest::newRow("active, installing") << active << "vt1"
                                            << "/bin/sh -c true" << 127 << QByteArray();
    }
    void onlyThePersonAtTheMachineSwitchesWithoutAPrompt() {
        QFETCH(QString, user);
        QFETCH(QString, session);
        QFETCH(QString, command);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, says);
        const Result result = pkexecAs(user, session, command);
        QVERIFY2(result.exitCode == exitCode, (result.out + result.err).constData());
        QVERIFY2((result.out + result.err).contains(says), (result.out + result.err).constData());
    }

private:
    QProcess m_polkitd;
    qint64 m_bus = 0;
    bool m_installedDir = false;
};

QTEST_GUILESS_MAIN(NetdPolkit)
#include "tst_netd_polkit.moc"
