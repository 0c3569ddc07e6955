// The home screen over the real model and tunnel controller: texts per state, cards, the power
// button, server rows, and its timers only while shown.

#include "HomeView.h"
#include "Phase.h"
#include "PowerButton.h"
#include "ServerRow.h"
#include "StatusPanel.h"
#include "UiRig.h"
#include "format/Format.h"

#include <QAccessible>
#include <QPushButton>
#include <QTest>

namespace {

struct HomeRig : UiRig {
    // Signed in as `account` takes it, the home screen shown.
    template <typename... Account> HomeView& open(Account... account) {
        this->account(account...);
        show(new HomeView(*model, tunnel(), clock));
        return home();
    }
    HomeView& home() { return static_cast<HomeView&>(*view); }
    QList<ServerRow*> rows() { return view->findChildren<ServerRow*>(); }
    PowerButton* power() { return find<PowerButton>("powerButton"); }
};

} // namespace

class HomeViewTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { stillStyle(); }

    // The texts without a subscription are the same with or without the trial on offer.
    void subscriptionTexts_data() {
        QTest::addColumn<bool>("active");
        QTest::addColumn<qint64>("days");
        QTest::addColumn<bool>("trial");
        QTest::addColumn<QString>("headline");
        QTest::newRow("inactive with trial") << false << qint64(0) << true << "Подписка не активна";
        QTest::newRow("inactive, no trial") << false << qint64(0) << false << "Подписка не активна";
        QTest::newRow("21 days") << true << qint64(21) << false << "21 день осталось";
        QTest::newRow("hours left") << true << qint64(0) << false << "Осталось ";
    }
    void subscriptionTexts() {
        QFETCH(bool, active);
        QFETCH(qint64, days);
        QFETCH(bool, trial);
        QFETCH(QString, headline);
        HomeRig rig;
        rig.open(active, days, active ? QStringList{"Амстердам", "Рига"} : QStringList{}, trial);
        const auto expire = rig.model->me()->expire_at;
        QCOMPARE(rig.text("headerSubtitle"),
                 active ? "подписка до " + formatExpire(expire) : QString("подписка не активна"));
        QCOMPARE(rig.text("statusTitle"), active ? "Отключено" : "Нужна подписка");
        QCOMPARE(rig.text("statusSubtitle"),
                 active ? humanLeft(expire, rig.clock) : QString("Оплатите тариф или включите пробный день"));
        QCOMPARE(rig.text("subscriptionHeadline"),
                 days == 0 && active ? headline + humanLeft(expire, rig.clock) : headline);
        QCOMPARE(rig.shown("subscriptionDetail"), active);
        if (active)
            QCOMPARE(rig.text("subscriptionDetail"), "До " + formatExpire(expire) + " · устройств 1 из 3");
        QCOMPARE(rig.shown("trialButton"), trial);
        QCOMPARE(rig.shown("serversEmpty"), !active);
        QCOMPARE(rig.rows().size(), active ? 2 : 0);
        for (const char* card : {"approvalCard", "deviceLimitCard", "errorCard"})
            QVERIFY2(!rig.shown(card), card);

        // Without a subscription the power button does nothing.
        QTest::mouseClick(rig.power(), Qt::LeftButton);
        rig.settle();
        QCOMPARE(rig.tunnel().status(), active ? VpnStatus::Connecting : VpnStatus::Off);
        if (trial) { // the trial button runs the trial flow
            rig.service().on("POST", "/api/v1/trial", ok(R"({})"));
            QTest::mouseClick(rig.find<QPushButton>("trialButton"), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(rig.calls().contains("trial"), 20000);
        }
    }

    void connectingConnectedAndOff() {
        HomeRig rig;
        rig.open(true);
        QTest::mouseClick(rig.power(), Qt::LeftButton);
        QCOMPARE(rig.text("statusTitle"), QString("Подключаюсь…"));
        QCOMPARE(rig.text("statusSubtitle"), QString("Амстердам")); // the server being tried
        QCOMPARE(rig.power()->accessibleName(), QString("Отключить"));
        QVERIFY(drive([&] { return rig.tunnel().exit().has_value(); }, &rig.clock));
        QCOMPARE(rig.text("statusTitle"), QString("Подключено"));
        QVERIFY(rig.home().tick()->running());
        // A screen reader hears the panel's title and subtitle.
        QAccessibleInterface* panel = QAccessible::queryAccessibleInterface(rig.home().statusPanel());
        QCOMPARE(panel->text(QAccessible::Name), QString("Подключено"));
        const QString exit = *rig.tunnel().exit();
        QTRY_COMPARE_WITH_TIMEOUT(rig.text("statusSubtitle"),
                                  exit + " · " + clock(rig.tunnel().since(), rig.clock.now()), 5000);
        rig.clock.advance(65s);
        // The connected clock moves on at the next tick of the subtitle.
        QTRY_COMPARE_WITH_TIMEOUT(rig.text("statusSubtitle"),
                                  exit + " · " + clock(rig.tunnel().since(), rig.clock.now()), 5000);
        QCOMPARE(panel->text(QAccessible::Description), rig.text("statusSubtitle"));

        // Hidden, nothing of ours ticks; shown again, the clock runs on.
        rig.home().hide();
        for (Phase* phase : rig.home().findChildren<Phase*>())
            QVERIFY(!phase->running());
        rig.home().show();
        QVERIFY(rig.home().tick()->running());

        QTest::mouseClick(rig.power(), Qt::LeftButton);
        QCOMPARE(rig.tunnel().status(), VpnStatus::Off);
        QVERIFY(!rig.home().tick()->running());
        QCOMPARE(rig.power()->accessibleName(), QString("Подключить"));

        // Pressed (here by keyboard) while still connecting, it disconnects.
        QTest::mouseClick(rig.power(), Qt::LeftButton);
        QCOMPARE(rig.tunnel().status(), VpnStatus::Connecting);
        QTest::keyClick(rig.power(), Qt::Key_Space);
        QCOMPARE(rig.tunnel().status(), VpnStatus::Off);
        QCOMPARE(rig.text("statusTitle"), QString("Отключено"));
    }

    // After a fail-over the check mark stays on the user's choice; the row of the server that
    // carries the tunnel says so.
    void serverRowsSelectAndShowTheCarrier() {
        HomeRig rig;
        rig.open(true, 44, QStringList{"Европа Wi-Fi 1", "Европа авто"});
        QCOMPARE(rig.rows()[0]->accessibleName(), QString("Европа Wi-Fi 1, выбран"));
        QCOMPARE(rig.rows()[1]->accessibleName(), QString("Европа авто"));
        QTest::mouseClick(rig.rows()[1], Qt::LeftButton);
        QCOMPARE(rig.model->selected()->name, QString("Европа авто"));
        QVERIFY(rig.rows()[1]->selected());
        QVERIFY(!rig.rows()[0]->selected());
        QCOMPARE(rig.tunnel().status(), VpnStatus::Off); // off: choosing only stores

        QTest::mouseClick(rig.rows()[0], Qt::LeftButton);
        rig.tunnels.connectAfterByServer = {{"Европа Wi-Fi 1", std::nullopt}};
        QTest::mouseClick(rig.power(), Qt::LeftButton);
        QVERIFY(drive([&] { return rig.tunnel().status() == VpnStatus::On; }, &rig.clock));
        QCOMPARE(rig.rows()[0]->accessibleName(), QString("Европа Wi-Fi 1, выбран"));
        QCOMPARE(rig.rows()[1]->accessibleName(), QString("Европа авто, подключено"));
    }

    void cardsFollowTheirConditions() {
        HomeRig rig;
        rig.open(true);
        rig.service().on("GET", "/api/v1/configs", refusal(403, "Лимит устройств исчерпан", "device_limit"));
        rig.finish(rig.model->load());
        QVERIFY(rig.model->deviceLimit());
        QVERIFY(rig.shown("deviceLimitCard"));
        QCOMPARE(rig.text("deviceLimitText"),
                 QString("Занято 1 из 3. Отвяжите лишнее устройство или возьмите тариф побольше."));
        QCOMPARE(rig.text("statusTitle"), QString("Лимит устройств"));

        // Approval pending: the approval card and the error card together.
        rig.extensions.autoFinish = false;
        QTest::mouseClick(rig.power(), Qt::LeftButton);
        rig.settle();
        rig.extensions.needsApproval();
        QTRY_VERIFY_WITH_TIMEOUT(rig.shown("approvalCard"), 20000);
        QVERIFY(rig.shown("errorCard"));
        QCOMPARE(rig.text("errorText"), QString("Разрешите расширение Вемко в открывшемся окне настроек"));
    }

    // The system-wide tunnel: the kill switch on the error card, the administrator prompt asked
    // again from the approval card (no settings page opens for it).
    void killSwitchAndPromptAgain() {
        HomeRig rig;
        rig.open(true);
        rig.tunnels.preload();
        FakeTunnelConnection& connection = *rig.tunnels.connection();
        connection.setStatus(TunnelStatus::Connected);
        rig.finish(rig.tunnel().load());
        QVERIFY(!rig.shown("errorCard"));
        connection.holdsKillSwitch = true;
        connection.setStatus(TunnelStatus::Reasserting);
        QTRY_VERIFY_WITH_TIMEOUT(rig.shown("errorCard"), 20000);
        QCOMPARE(rig.text("errorText"), QString("Туннель оборвался — интернет заблокирован, пока вы не "
                                                "отключите VPN или он не переподключится"));
        connection.holdsKillSwitch = false;
        connection.awaiting = true;
        connection.setStatus(TunnelStatus::Connecting);
        QTRY_VERIFY_WITH_TIMEOUT(rig.shown("approvalCard"), 20000);
        QVERIFY(!rig.shown("errorCard"));
        QTest::mouseClick(rig.find<QPushButton>("openSettingsButton"), Qt::LeftButton);
        QCOMPARE(connection.asksAgain, 1);
        QCOMPARE(rig.desktop.opened, QList<QUrl>());
    }
};

QTEST_MAIN(HomeViewTest)
#include "tst_home_view.moc"
