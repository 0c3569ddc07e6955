#include "VpnRig.h"

#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

namespace {
const QString approveText = "Разрешите расширение Вемко в открывшемся окне настроек";
}

// Activation of the tunnel component: approval, the settings locations, replaced requests.
class TestVpnExtension : public QObject {
    Q_OBJECT
private slots:
    void approvalKeepsConnectWaitingThenGoesOn() {
        VpnRig rig;
        rig.extensions.autoFinish = false;
        rig.extensions.locations = {QUrl("settings://extensions?kind=network"),
                                    QUrl("settings://login-items")};
        Vpn& vpn = rig.make();
        const auto done = startTracked(vpn.connect(VpnRig::profile("Амстердам")));
        QVERIFY(rig.run([&] { return rig.extensions.submissions.size() == 1; }));
        rig.extensions.needsApproval();
        rig.settle();

        QVERIFY(vpn.needsApproval());
        QCOMPARE(vpn.error(), std::optional(approveText));
        QCOMPARE(rig.desktop.opened, QList<QUrl>{QUrl("settings://extensions?kind=network")});
        rig.advance(10min); // no time limit on the user's approval
        QVERIFY(!*done);
        QCOMPARE(vpn.status(), VpnStatus::Connecting);
        QVERIFY(!rig.tunnels.saved());

        rig.extensions.finish();
        rig.settle();
        QCOMPARE(vpn.error(), std::nullopt);
        QVERIFY(vpn.needsApproval()); // until the tunnel reports connected
        QVERIFY(rig.run([&] { return *done; }));
        QCOMPARE(vpn.status(), VpnStatus::On);
        QVERIFY(!vpn.needsApproval());
    }

    void everyAttemptSubmitsAndFinishClearsTheMessage() {
        VpnRig rig;
        Vpn& vpn = rig.make();
        QVERIFY(rig.run(vpn.connect(VpnRig::profile("Амстердам"))));
        vpn.requestNeedsUserApproval(vpn.tunnelBundleId());
        QCOMPARE(vpn.error(), std::optional(approveText));
        QVERIFY(rig.run(vpn.connect(VpnRig::profile("Амстердам"))));
        QCOMPARE(rig.extensions.submissions.size(), 2);
        QCOMPARE(vpn.error(), std::nullopt);
        QCOMPARE(vpn.actionForReplacingExtension(vpn.tunnelBundleId()),
                 ExtensionRequestDelegate::ReplacementAction::Replace);
    }

    void settingsLocations_data() {
        QTest::addColumn<QList<QUrl>>("locations");
        QTest::addColumn<bool>("accepts");
        QTest::addColumn<QList<QUrl>>("tried");
        const QUrl first("settings://a"), second("settings://b");
        QTest::newRow("none on Linux") << QList<QUrl>{} << true << QList<QUrl>{};
        QTest::newRow("first accepted") << QList<QUrl>{first, second} << true << QList<QUrl>{first};
        QTest::newRow("none accepted") << QList<QUrl>{first, second} << false << QList<QUrl>{first, second};
        QTest::newRow("invalid skipped")
            << QList<QUrl>{QUrl("http://[::1"), second} << true << QList<QUrl>{second};
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
        const auto older = startTracked(vpn.connect(VpnRig::profile("Амстердам")));
        QVERIFY(rig.run([&] { return rig.extensions.submissions.size() == 1; }));
        QStringList names;
        QObject::connect(&vpn, &Vpn::profileNameChanged, &vpn, [&] { names.append(*vpn.profileName()); });
        const auto newer = startTracked(vpn.connect(VpnRig::profile("Берлин")));
        QVERIFY(rig.run([&] { return *older; }));
        QCOMPARE(rig.extensions.submissions.size(), 2);

        rig.extensions.finish();
        QVERIFY(rig.run([&] { return *newer; }));
        QCOMPARE(rig.tunnels.connection()->startedServers, QStringList{"Берлин"});
        QCOMPARE(names, QStringList{"Берлин"});
        QCOMPARE(vpn.status(), VpnStatus::On);
    }

    void failedRequestFailsTheCandidate() {
        VpnRig rig;
        rig.extensions.failWith = "tunnel host is not executable";
        Vpn& vpn = rig.make();
        vpn.setProfiles({VpnRig::profile("Европа 1"), VpnRig::profile("Европа авто")});
        QStringList errors;
        QObject::connect(&vpn, &Vpn::errorChanged, &vpn,
                         [&] { errors.append(vpn.error().value_or("<none>")); });
        QVERIFY(rig.run(vpn.connect(vpn.profiles().first())));
        QCOMPARE(errors,
                 (QStringList{
                     "tunnel host is not executable",
                     "Ни один сервер не пропустил трафик. Проверьте интернет или напишите в поддержку."}));
        QVERIFY(!rig.tunnels.saved());
    }

    // A run waiting for approval does not outlive its controller in a suspended state.
    void destroyedControllerReleasesItsWaiter() {
        VpnRig rig;
        rig.extensions.autoFinish = false;
        rig.make();
        const auto done = startTracked(rig.vpn->connect(VpnRig::profile("Амстердам")));
        QVERIFY(rig.run([&] { return rig.extensions.submissions.size() == 1; }));
        rig.vpn.reset();
        QVERIFY(rig.run([&] { return *done; }));
    }
};

QTEST_GUILESS_MAIN(TestVpnExtension)
#include "tst_vpn_extension.moc"
