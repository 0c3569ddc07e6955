// Vpn in the system-wide mode for real: the app's connect, fail-over, probe and status over
// vemko-netd (run directly, as these tests are root) inside the test network; the kill switch as
// the controller shows it; disconnect leaving no rule.
#include "device/Store.h"
#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "platform/LinuxTunnelSystem.h"
#include "support/FakeDesktop.h"
#include "support/FakeDeviceFacts.h"
#include "support/FakeExtensionManager.h"
#include "support/NetnsTopology.h"
#include "tunnel/Vpn.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>
#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

using namespace NetnsTopology;

namespace {

ServerProfile server(const QString& name, const QString& address) {
    return ServerProfile{QUuid::createUuid(), name,
                         QJsonDocument::fromJson(clientDocument(address)).object()};
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The app's controller in the system-wide mode, its helper run directly (these tests are root).
struct SystemRig {
    SystemRig() {
        const QString build = qEnvironmentVariable("VEMKO_BUILD_DIR");
        tunnels.setSystemConnection(std::make_unique<SystemTunnelConnection>(
            QStringList{build + "/bin/vemko-netd"}, home.filePath("tunnel.json")));
        store.setTunnelMode(TunnelMode::System);
        tunnels.setModeSource([this] { return store.tunnelMode(); });
    }
    // Connects and waits for the end of the run.
    bool connect(const ServerProfile& profile) {
        bool finished = false;
        [](Vpn& vpn, ServerProfile profile, bool& finished) -> QCoro::Task<> {
            co_await vpn.connect(profile);
            finished = true;
        }(vpn, profile, finished);
        return QTest::qWaitFor([&] { return finished; }, 90000);
    }

    QTemporaryDir home;
    LinuxTunnelSystem tunnels{qEnvironmentVariable("VEMKO_BUILD_DIR") + "/bin/vemko-tunnel",
                              home.filePath("tunnel.json"), home.filePath("run")};
    MemoryDefaults defaults;
    FakeDeviceFacts facts;
    Store store{defaults, facts};
    FakeExtensionManager extensions;
    FakeDesktop desktop;
    QNetworkAccessManager lookupNetwork;
    Vpn vpn{tunnels,
            extensions,
            store,
            Clock::system(),
            desktop,
            lookupNetwork,
            "http://" + httpHost,
            "http://" + httpHost + "/json"};
};

// Stops the VPN server at `address` (topology.sh keeps its pid as vpn-<last byte>.pid).
bool stopServer(const QString& address) {
    const qint64 pid = readAll(QDir::tempPath() + "/vemko-netns-test/vpn-" + address.section('.', 3) + ".pid")
                           .trimmed()
                           .toLongLong();
    return pid > 0 && ::kill(pid_t(pid), SIGKILL) == 0;
}

} // namespace

class VpnSystemMode : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (const auto why = unavailable())
            QSKIP(qPrintable(*why));
        QVERIFY(ensureEngineUser());
        QString message;
        QVERIFY2(up(&message), qPrintable(message));
        // From here on this process (and every thread it starts) lives in the client namespace.
        m_home = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        const int ns = ::open("/run/netns/vemko-t-client", O_RDONLY | O_CLOEXEC);
        QVERIFY(ns >= 0);
        QCOMPARE(::setns(ns, CLONE_NEWNET), 0);
        ::close(ns);
        m_entered = true;
    }
    void cleanup() {
        if (m_entered)
            run({qEnvironmentVariable("VEMKO_BUILD_DIR") + "/bin/vemko-netd", "down"}, {}, std::nullopt);
    }
    void cleanupTestCase() {
        if (m_entered) {
            run({qEnvironmentVariable("VEMKO_BUILD_DIR") + "/bin/vemko-netd", "down"}, {}, std::nullopt);
            // Back home first: taking the network down ends every process still inside it.
            ::setns(m_home, CLONE_NEWNET);
            down();
        }
    }

    // A refused administrator prompt is a clear error and changes nothing.
    void aRefusedPromptIsAClearError() {
        QTemporaryDir home;
        // pkexec's "prompt dismissed" exit status, from a stand-in that asks nobody.
        // It answers late, as a person at the prompt does: meanwhile the connection waits for approval.
        const QString starts = home.filePath("starts");
        SystemTunnelConnection connection(
            QStringList{"sh", "-c", "cat >/dev/null; echo \"$1\" >>\"$0\"; sleep 2; exit 126", starts},
            home.filePath("tunnel.json"));
        connection.start(QJsonObject{{"config", QString::fromUtf8(clientDocument())}});
        QCOMPARE(connection.status(), TunnelStatus::Connecting);
        QTRY_VERIFY_WITH_TIMEOUT(connection.awaitingApproval(), 20000);
        // Asked again: the waiting prompt is withdrawn and the same verb asks afresh, no error.
        connection.askAgain();
        QTRY_COMPARE_WITH_TIMEOUT(readAll(starts), QByteArray("up\nup\n"), 20000);
        QVERIFY(connection.awaitingApproval());
        QCOMPARE(connection.failure(), std::nullopt);
        QTRY_COMPARE_WITH_TIMEOUT(connection.status(), TunnelStatus::Disconnected, 20000);
        QVERIFY(!connection.awaitingApproval());
        QVERIFY(connection.failure().has_value());
        QVERIFY2(connection.failure()->contains("Ничего не изменено"), qPrintable(*connection.failure()));
        QVERIFY(run({"nft", "list", "table", "inet", "vemko"}, {}, std::nullopt).exitCode != 0);
    }

    void connectsFailsOverAndHoldsTheKillSwitch() {
        SystemRig rig;
        Vpn& vpn = rig.vpn;
        QCOMPARE(vpn.tunnelMode(), QStringLiteral("system"));

        // The selected server is dead; the reserve of its group carries the traffic.
        const ServerProfile dead = server(QStringLiteral("Европа 1"), QStringLiteral("10.202.0.9"));
        const ServerProfile reserve = server(QStringLiteral("Европа резерв"), vpnServer2);
        vpn.setProfiles({dead, reserve});
        reset();
        QVERIFY(rig.connect(dead));
        QCOMPARE(vpn.status(), Vpn::Status::On);
        QCOMPARE(vpn.profileName(), std::optional<QString>(reserve.name));
        QCOMPARE(vpn.error(), std::nullopt);
        QVERIFY(vpn.since().has_value());
        reset(); // the engine's calls to the dead server were its own, not leaks
        // The exit lookup went through the tunnel: the outside saw the VPN server.
        QTRY_COMPARE_WITH_TIMEOUT(vpn.exit(), std::optional<QString>("Test · " + vpnServer2), 20000);
        // A plain program of the machine goes through the tunnel too, and nothing leaked.
        QCOMPARE(curl({"http://" + httpHost + "/"}),
                 QStringLiteral("server=%1 peer=%2").arg(httpHost, vpnServer2));
        QCOMPARE(counter("leak4"), 0);
        QCOMPARE(counter("leak6"), 0);
        QCOMPARE(vpn.blocked(), false);

        // The engine dies: the controller shows the kill switch and the machine stays shut.
        QVERIFY(helperEnginePid() > 0);
        QCOMPARE(::kill(pid_t(helperEnginePid()), SIGKILL), 0);
        QTRY_VERIFY_WITH_TIMEOUT(vpn.blocked(), 20000);
        QCOMPARE(vpn.status(), Vpn::Status::Connecting);
        // Refused at once; or, once the watch has started over on another server, failing inside
        // the tunnel: never out around it.
        QVERIFY(curl({"--max-time", "5", "http://" + httpHost + "/"}).startsWith("rc="));
        QCOMPARE(counter("leak4"), 0);

        vpn.disconnect();
        QTRY_COMPARE_WITH_TIMEOUT(rig.tunnels.systemConnection().status(), TunnelStatus::Disconnected, 20000);
        QCOMPARE(vpn.status(), Vpn::Status::Off);
        QCOMPARE(vpn.blocked(), false);
        QVERIFY(run({"nft", "list", "table", "inet", "vemko"}, {}, std::nullopt).exitCode != 0);
        QCOMPARE(curl({"http://" + httpHost + "/"}),
                 QStringLiteral("server=%1 peer=%2").arg(httpHost, clientAddress));
    }

    // The VPN server dies under a running tunnel. Once the watch has reason to doubt it (here the
    // network's word), two proofs fail and the tunnel moves to the other server, the kill switch
    // up all along: the machine's own requests fail meanwhile, and not one packet leaks.
    void deadServerIsReplacedUnderTheKillSwitch() {
        SystemRig rig;
        const ServerProfile first = server(QStringLiteral("Европа 1"), vpnServer1);
        const ServerProfile reserve = server(QStringLiteral("Европа резерв"), vpnServer2);
        rig.vpn.setProfiles({first, reserve});
        QVERIFY(rig.connect(first));
        QCOMPARE(rig.vpn.profileName(), std::optional(first.name));
        QSignalSpy switched(&rig.vpn, &Vpn::switchedServer);
        reset();

        QVERIFY(stopServer(vpnServer1));
        rig.vpn.recheck();
        QElapsedTimer took;
        took.start();
        while (switched.isEmpty() && took.elapsed() < 90000) {
            // Meanwhile the machine's own requests fail, or go through the new server once it is up.
            const QString answer = curl({"--max-time", "2", "http://" + httpHost + "/"});
            QVERIFY2(answer.startsWith("rc=") || answer.endsWith("peer=" + vpnServer2), qPrintable(answer));
            (void)QTest::qWaitFor([&] { return !switched.isEmpty(); }, 300);
        }
        qInfo("replaced %lld ms after the doubt", took.elapsed());
        QCOMPARE(switched.size(), 1);
        QCOMPARE(rig.vpn.profileName(), std::optional(reserve.name));
        QCOMPARE(curl({"http://" + httpHost + "/"}),
                 QStringLiteral("server=%1 peer=%2").arg(httpHost, vpnServer2));
        QCOMPARE(counter("leak4"), 0);
        QCOMPARE(counter("leak6"), 0);
        rig.vpn.disconnect();
        QTRY_COMPARE_WITH_TIMEOUT(rig.tunnels.systemConnection().status(), TunnelStatus::Disconnected, 20000);
    }

private:
    bool m_entered = false;
    int m_home = -1;
};

QTEST_GUILESS_MAIN(VpnSystemMode)
#include "tst_vpn_system_mode.moc"
