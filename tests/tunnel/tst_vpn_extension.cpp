#include "VpnRig.h"

#include <QTest>

namespace {
const QString approveText = "Разрешите расширение Вемко в открывшемся окне настроек";
}

// Activation of the tunnel component: approval, the settings locations, replaced requests.
class TestVpnExtension : public QObject {
    Q_OBJECT

    // A connect whose activation request the test answers itself.
    static std::shared_ptr<bool> waitingConnect(VpnRig& rig, const QString& name) {
        const auto submitted = rig.extensions.submissions.size() + 1;
        auto done = spawn(rig.vpn->connect(VpnRig::profile(name)));
        rig.run([&] { return rig.extensions.submissions.size() == submitted; });
        return done;
    }

private slots:
    void approvalKeepsConnectWaitingThenGoesOn() {
        VpnRig rig;
        rig.extensions.autoFinish = false;
        rig.extensions.locations = {QUrl("settings://network"), QUrl("settings://login-items")};
        Vpn& vpn = rig.make();
        const auto done = waitingConnect(rig, "Амстердам");
        rig.extensions.needsApproval();
        rig.settle();
        QVERIFY(vpn.needsApproval());
        QCOMPARE(vpn.error(), std::optional(approveText));
        QCOMPARE(rig.desktop.opened, QList<QUrl>{QUrl("settings://network")});
        rig.advance(std::chrono::minutes(10)); // no time limit on the user's approval
        QVERIFY(!*done);
        QCOMPARE(vpn.status(), VpnStatus::Connecting);

        rig.extensions.finish();
        rig.settle();
        QCOMPARE(vpn.error(), std::nullopt);
        QVERIFY(vpn.needsApproval()); // until the tunnel reports connected
        QVERIFY(rig.run([&] { return *done; }));
        QCOMPARE(vpn.status(), VpnStatus::On);
        QVERIFY(!vpn.needsApproval());
    }

    void settingsLocations_data() {
        QTest::addColumn<QList<QUrl>>("locations");
        QTest::addColumn<bool>("accepts");
        QTest::addColumn<QList<QUrl>>("tried");
        const QUrl a("settings://a"), b("settings://b");
        QTest::newRow("first accepted") << QList<QUrl>{a, b} << true << QList<QUrl>{a};
        QTest::newRow("none accepted") << QList<QUrl>{a, b} << false << QList<QUrl>{a, b};
        QTest::newRow("invalid skipped") << QList<QUrl>{QUrl("http://[::1"), b} << true << QList<QUrl>{b};
    }
    void settingsLocations() {
        QFETCH(QList<QUrl>, locations);
        QFETCH(bool, accepts);
        QFETCH(QList<QUrl>, tried);
        VpnRig rig;
        rig.extensions.locations = locations;
        rig.desktop.acceptUrls = accepts;
        rig.make().openExtensionSettings();
        QCOMPARE(rig.desktop.opened, tried);
    }

    // A second connect while the first waits for approval: the first wakes, ends, writes nothing.
    void replacedRequestEndsTheOlderRun() {
        VpnRig rig;
        rig.extensions.autoFinish = false;
        Vpn& vpn = rig.make();
        const auto older = waitingConnect(rig, "Амстердам");
        QStringList names;
        QObject::connect(&vpn, &Vpn::profileNameChanged, &vpn, [&] { names.append(*vpn.profileName()); });
        const auto newer = waitingConnect(rig, "Берлин");
        QVERIFY(rig.run([&] { return *older; }));
        rig.extensions.finish();
        QVERIFY(rig.run([&] { return *newer; }));
        QCOMPARE(rig.tunnels.connection()->startedServers, QStringList{"Берлин"});
        QCOMPARE(names, QStringList{"Берлин"});
        QCOMPARE(vpn.status(), VpnStatus::On);
    }

    // The request failed, but the user switched off before the run heard of it: no message.
    void failureHeardAfterDisconnectWritesNothing() {
        VpnRig rig;
        rig.extensions.autoFinish = false;
        Vpn& vpn = rig.make();
        const auto done = waitingConnect(rig, "Амстердам");
        vpn.requestDidFail(vpn.tunnelBundleId(), "Permission denied");
        vpn.disconnect();
        QVERIFY(rig.run([&] { return *done; }));
        QCOMPARE(vpn.error(), std::nullopt);
    }

    // A run waiting for approval does not outlive its controller in a suspended state.
    void destroyedControllerReleasesItsWaiter() {
        VpnRig rig;
        rig.extensions.autoFinish = false;
        rig.make();
        const auto done = waitingConnect(rig, "Амстердам");
        rig.vpn.reset();
        QVERIFY(rig.run([&] { return *done; }));
    }
};

QTEST_GUILESS_MAIN(TestVpnExtension)
#include "tst_vpn_extension.moc"
