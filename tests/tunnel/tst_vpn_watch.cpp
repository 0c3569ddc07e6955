// The watch over a tunnel that is on: what makes it prove the tunnel again, and the fail-over
// when two proofs in a row fail.
#include "VpnRig.h"

#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

namespace {

const QList<ServerProfile> europe{VpnRig::profile("Европа 1"), VpnRig::profile("Европа Wi-Fi"),
                                  VpnRig::profile("Европа авто")};

// A Vpn on "Европа 1", proven. The probe passes through the servers in `alive` only.
struct WatchRig : VpnRig {
    QStringList alive{"Европа 1", "Европа Wi-Fi", "Европа авто"};

    Vpn& connected() {
        make().setProfiles(europe);
        QObject::connect(&tunnels, &TunnelSystem::statusChanged, &service, [this] { answer(); });
        run(vpn->connect(europe.first()));
        service.clearRequests();
        return *vpn;
    }
    void answer() {
        const FakeTunnelConnection* connection = tunnels.connection();
        const bool passes =
            connection &&
            alive.contains(connection->startedServers.value(connection->startedServers.size() - 1));
        service.on("GET", "/api/v1/ip", passes ? passing() : failing());
    }
    int probes() const { return service.requests("GET", "/api/v1/ip").size(); }
};

} // namespace

class TestVpnWatch : public QObject {
    Q_OBJECT

private slots:
    // While all is well the tunnel is proved every four minutes and on reason to doubt it: the
    // engine's report of failed connections (not again within a minute of a passed proof), a
    // network change or a wake-up (after letting things settle). Off, nothing is proved.
    void provesWhenThereIsReasonToDoubt() {
        WatchRig rig;
        Vpn& vpn = rig.connected();
        rig.advance(3min + 59s);
        QCOMPARE(rig.probes(), 0);
        rig.advance(1s);
        QCOMPARE(rig.probes(), 1);

        emit rig.tunnels.trafficTrouble(); // within a minute of the passed proof
        rig.advance(1s);
        QCOMPARE(rig.probes(), 1);
        vpn.recheck(5s);
        rig.advance(4900ms);
        QCOMPARE(rig.probes(), 1);
        rig.advance(100ms);
        QCOMPARE(rig.probes(), 2);
        rig.advance(1min);
        emit rig.tunnels.trafficTrouble();
        rig.advance(100ms);
        QCOMPARE(rig.probes(), 3);

        vpn.stopWatching(); // another account signed in: the tunnel stays, unwatched
        rig.advance(10min);
        QCOMPARE(rig.probes(), 3);
        QCOMPARE(vpn.status(), VpnStatus::On);
        vpn.disconnect();
        vpn.recheck();
        rig.advance(10min);
        QCOMPARE(rig.probes(), 3);
    }

    // Two failed proofs in a row: the connect flow runs again over the server ordering with the
    // dead server last, showing that it does so; "on" again through the first that passes, with
    // a word for the toast, or "off" with the usual message when none does.
    void twoFailedProofsReplaceTheServer_data() {
        QTest::addColumn<QStringList>("alive");
        QTest::addColumn<QStringList>("tried");
        QTest::addColumn<QString>("ends"); // the server on, or "" for off
        QTest::newRow("next one carries")
            << QStringList{"Европа авто"} << QStringList{"Европа 1", "Европа Wi-Fi", "Европа авто"}
            << "Европа авто";
        QTest::newRow("none carries")
            << QStringList{} << QStringList{"Европа 1", "Европа Wi-Fi", "Европа авто", "Европа 1"} << "";
    }
    void twoFailedProofsReplaceTheServer() {
        QFETCH(QStringList, alive);
        QFETCH(QStringList, tried);
        QFETCH(QString, ends);
        WatchRig rig;
        Vpn& vpn = rig.connected();
        QSignalSpy switched(&vpn, &Vpn::switchedServer);
        QStringList shown; // status, recovering and name at each change of status or name
        const auto record = [&] {
            shown << QStringLiteral("%1 %2 %3")
                         .arg(QVariant::fromValue(vpn.status()).toString())
                         .arg(vpn.recovering())
                         .arg(vpn.profileName().value_or("-"));
        };
        for (auto signal : {&Vpn::statusChanged, &Vpn::profileNameChanged})
            connect(&vpn, signal, &rig.service, record);
        rig.alive = alive;
        rig.answer();

        emit rig.tunnels.trafficTrouble();
        QVERIFY(rig.run([&] { return vpn.status() != VpnStatus::On; }));
        QVERIFY(rig.run([&] { return !vpn.recovering(); }));
        QCOMPARE(rig.tunnels.connection()->startedServers, tried);
        // Each failed proof is two attempts; so is each failed candidate.
        QCOMPARE(rig.probes(), 4 + (alive.isEmpty() ? 6 : 3));
        if (ends.isEmpty()) {
            QCOMPARE(shown, (QStringList{"Connecting 1 Европа 1", "Connecting 1 пробую: Европа Wi-Fi",
                                         "Connecting 1 пробую: Европа авто", "Connecting 1 пробую: Европа 1",
                                         "Off 0 пробую: Европа 1"}));
            QCOMPARE(vpn.error(), std::optional<QString>("Ни один сервер не пропустил трафик. Проверьте "
                                                         "интернет или напишите в поддержку."));
            QCOMPARE(switched.size(), 0);
            rig.advance(10min);
            QCOMPARE(rig.probes(), 10); // the watch ended
        } else {
            QCOMPARE(shown, (QStringList{"Connecting 1 Европа 1", "Connecting 1 пробую: Европа Wi-Fi",
                                         "Connecting 1 пробую: Европа авто", "Connecting 1 Европа авто",
                                         "On 0 Европа авто"}));
            QCOMPARE(switched.size(), 1);
            QCOMPARE(switched.first().first().toString(), ends);
            QCOMPARE(vpn.since(), std::optional(rig.clock.now()));
            QCOMPARE(rig.stored("lastGood"), std::optional(ends));
            rig.advance(4min); // watched on
            QCOMPARE(rig.probes(), 8);
        }
    }
};

QTEST_GUILESS_MAIN(TestVpnWatch)
#include "tst_vpn_watch.moc"
