// NetworkManager and logind as a stand-in on a private bus: their signals reach a running
// tunnel's watch the way the app wires them, and make it prove the tunnel again.
#include "VpnRig.h"
#include "platform/SystemEvents.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QTest>
#include <unistd.h>

using namespace std::chrono_literals;

class TestVpnSystemEvents : public QObject {
    Q_OBJECT

    // Sends `name` from `path` the way the system service would.
    static void signal(QDBusConnection& from, const char* path, const char* interface, const char* name,
                       const QVariant& argument) {
        QDBusMessage message = QDBusMessage::createSignal(path, interface, name);
        message << argument;
        QVERIFY(from.send(message));
    }

private slots:
    void networkAndWakeMakeTheWatchProve() {
        QDBusConnection standIn = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "stand-in");
        QVERIFY(standIn.isConnected());
        for (const char* service : {"org.freedesktop.NetworkManager", "org.freedesktop.login1"})
            QVERIFY(standIn.interface()->registerService(service).isValid());

        VpnRig rig;
        Vpn& vpn = rig.make();
        SystemEvents events(QDBusConnection::sessionBus());
        connect(&events, &SystemEvents::networkChanged, &vpn, [&] { vpn.recheck(2s); });
        connect(&events, &SystemEvents::woke, &vpn, [&] { vpn.recheck(5s); });
        QVERIFY(rig.run(vpn.connect(VpnRig::profile("Амстердам"))));
        rig.service.clearRequests();
        const auto probes = [&] {
            return rig.service.requests("GET", "/api/v1/ip").size();
        };
        QSignalSpy woke(&events, &SystemEvents::woke);
        QSignalSpy online(&events, &SystemEvents::networkChanged);

        // Going to sleep, and the network on its way down, are no reason yet.
        signal(standIn, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep", true);
        signal(standIn, "/org/freedesktop/NetworkManager", "org.freedesktop.NetworkManager", "StateChanged",
               QVariant::fromValue(20u));
        signal(standIn, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep",
               false);
        QTRY_COMPARE_WITH_TIMEOUT(woke.size(), 1, 20000); // the two before it came first
        QCOMPARE(online.size(), 0);
        rig.advance(4900ms); // the watch lets the wake settle
        QCOMPARE(probes(), 0);
        rig.advance(100ms);
        QCOMPARE(probes(), 1);

        signal(standIn, "/org/freedesktop/NetworkManager", "org.freedesktop.NetworkManager", "StateChanged",
               QVariant::fromValue(70u));
        QTRY_COMPARE_WITH_TIMEOUT(online.size(), 1, 20000);
        rig.advance(2s);
        QCOMPARE(probes(), 2);
        QCOMPARE(vpn.status(), VpnStatus::On);
    }
};

// The stand-in needs a bus of its own: the test runs itself again inside a private session.
int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("VEMKO_TEST_PRIVATE_BUS")) {
        qputenv("VEMKO_TEST_PRIVATE_BUS", "1");
        std::vector<char*> command{const_cast<char*>("dbus-run-session"), const_cast<char*>("--")};
        command.insert(command.end(), argv, argv + argc);
        command.push_back(nullptr);
        ::execvp(command[0], command.data());
        std::perror("dbus-run-session");
        return 1;
    }
    QCoreApplication app(argc, argv);
    TestVpnSystemEvents test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_vpn_system_events.moc"
