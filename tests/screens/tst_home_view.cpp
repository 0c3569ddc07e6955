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
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

struct HomeRig : UiRig {
    HomeView& view() {
        if (!home) {
            home = std::make_unique<HomeView>(*model, tunnel(), clock);
            home->resize(460, 660);
            home->show();
        }
        return *home;
    }
    QString text(const QString& name) { return child<QLabel>(&view(), name)->text(); }
    bool shown(const QString& name) { return child<QWidget>(&view(), name)->isVisibleTo(&view()); }
    QList<ServerRow*> rows() { return view().findChildren<ServerRow*>(); }
    PowerButton* power() { return child<PowerButton>(&view(), "powerButton"); }

    std::unique_ptr<HomeView> home; // goes before the controllers
};

} // namespace

class HomeViewTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { stillStyle(); }

    void subscriptionTexts_data() {
        QTest::addColumn<bool>("active");
        QTest::addColumn<qint64>("days");
        QTest::addColumn<bool>("trial");
        QTest::addColumn<QString>("header");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("headline");
        QTest::newRow("inactive with trial") << false << qint64(0) << true << "подписка не активна"
                                             << "Нужна подписка"
                                             << "Подписка не активна";
        QTest::newRow("inactive, no trial") << false << qint64(0) << false << "подписка не активна"
                                            << "Нужна подписка"
                                            << "Подписка не активна";
        QTest::newRow("21 days") << true << qint64(21) << false << ""
                                 << "Отключено"
                                 << "21 день осталось";
        QTest::newRow("12 days") << true << qint64(12) << false << ""
                                 << "Отключено"
                                 << "12 дней осталось";
        QTest::newRow("22 days") << true << qint64(22) << false << ""
                                 << "Отключено"
                                 << "22 дня осталось";
        QTest::newRow("hours left") << true << qint64(0) << false << ""
                                    << "Отключено"
                                    << "Осталось ";
    }
    void subscriptionTexts() {
        QFETCH(bool, active);
        QFETCH(qint64, days);
        QFETCH(bool, trial);
        QFETCH(QString, header);
        QFETCH(QString, title);
        QFETCH(QString, headline);
        HomeRig rig;
        rig.account(active, days, active ? QStringList{"Амстердам", "Рига"} : QStringList{}, trial);
        const auto expire = rig.model->me()->expire_at;
        QCOMPARE(rig.text("headerSubtitle"), active ? "подписка до " + formatExpire(expire) : header);
        QCOMPARE(rig.text("statusTitle"), title);
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
    }

    void trialButtonRunsTheTrialFlow() {
        HomeRig rig;
        rig.account(false, 0, {}, true);
        rig.service().on("POST", "/api/v1/trial", ok(R"({})"));
        QTest::mouseClick(child<QPushButton>(&rig.view(), "trialButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(rig.calls().contains("trial"), 20000);
    }

    void connectingThenConnectedWithExitAndClock() {
        HomeRig rig;
        rig.account(true);
        QTest::mouseClick(rig.power(), Qt::LeftButton);
        QCOMPARE(rig.text("statusTitle"), QString("Подключаюсь…"));
        QCOMPARE(rig.text("statusSubtitle"), QString("поднимаю нору"));
        QCOMPARE(rig.power()->accessibleName(), QString("Отключить"));
        QVERIFY(drive([&] { return rig.tunnel().exit().has_value(); }, &rig.clock));
        QCOMPARE(rig.text("statusTitle"), QString("Подключено"));
        QVERIFY(rig.view().tick()->running());
        const QString exit = *rig.tunnel().exit();
        QTRY_COMPARE_WITH_TIMEOUT(rig.text("statusSubtitle"),
                                  exit + " · " + clock(rig.tunnel().since(), rig.clock.now()), 5000);
        rig.clock.advance(65s);
        // The connected clock moves on at the next tick of the subtitle.
        QTRY_COMPARE_WITH_TIMEOUT(rig.text("statusSubtitle"),
                                  exit + " · " + clock(rig.tunnel().since(), rig.clock.now()), 5000);

        // Hidden, nothing of ours ticks; shown again, the clock runs on.
        rig.view().hide();
        for (Phase* phase : rig.view().findChildren<Phase*>())
            QVERIFY(!phase->running());
        rig.view().show();
        QVERIFY(rig.view().tick()->running());

        QTest::mouseClick(rig.power(), Qt::LeftButton);
        QCOMPARE(rig.tunnel().status(), VpnStatus::Off);
        QVERIFY(!rig.view().tick()->running());
        QCOMPARE(rig.power()->accessibleName(), QString("Подключить"));
    }

    void pressingWhileConnectingDisconnects() {
        HomeRig rig;
        rig.account(true);
        QTest::mouseClick(rig.power(), Qt::LeftButton);
        QCOMPARE(rig.tunnel().status(), VpnStatus::Connecting);
        QTest::keyClick(rig.power(), Qt::Key_Space);
        QCOMPARE(rig.tunnel().status(), VpnStatus::Off);
        QCOMPARE(rig.text("statusTitle"), QString("Отключено"));
    }

    void serverRowsSelectAndMoveTheTunnel() {
        HomeRig rig;
        rig.account(true, 44, {"Амстердам", "Рига", "Хельсинки"});
        QCOMPARE(rig.rows().size(), 3);
        QCOMPARE(rig.rows()[0]->accessibleName(), QString("Амстердам, выбран"));
        QCOMPARE(rig.rows()[1]->accessibleName(), QString("Рига"));
        QTest::mouseClick(rig.rows()[1], Qt::LeftButton);
        QCOMPARE(rig.model->selected()->name, QString("Рига"));
        QVERIFY(rig.rows()[1]->selected());
        QVERIFY(!rig.rows()[0]->selected());
        QCOMPARE(rig.tunnel().status(), VpnStatus::Off); // off: choosing only stores

        QTest::mouseClick(rig.power(), Qt::LeftButton);
        QVERIFY(drive([&] { return rig.tunnel().status() == VpnStatus::On; }, &rig.clock));
        QTest::mouseClick(rig.rows()[2], Qt::LeftButton);
        QVERIFY(drive(
            [&] {
                return rig.tunnel().status() == VpnStatus::On && rig.tunnel().profileName() == "Хельсинки";
            },
            &rig.clock));
    }

    void cardsFollowTheirConditions() {
        HomeRig rig;
        rig.service().on("GET", "/api/v1/configs", refusal(403, "Лимит устройств исчерпан", "device_limit"));
        rig.account(true);
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
        QCOMPARE(rig.text("approvalText"),
                 QString("Подтвердите доступ Vemko VPN к сети в системном окне запроса "
                         "пароля. Окно уже открыто."));
    }

    void everyControlSaysWhatItShows() {
        HomeRig rig;
        rig.account(true);
        QAccessibleInterface* panel = QAccessible::queryAccessibleInterface(rig.view().statusPanel());
        QCOMPARE(panel->text(QAccessible::Name), QString("Отключено"));
        QCOMPARE(panel->text(QAccessible::Description), rig.text("statusSubtitle"));
        QCOMPARE(QAccessible::queryAccessibleInterface(rig.power())->text(QAccessible::Name),
                 QString("Подключить"));
        // Tab walks the power button, then the servers in list order.
        rig.view().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&rig.view()));
        rig.power()->setFocus();
        QStringList order{QApplication::focusWidget()->accessibleName()};
        for (int i = 0; i < 2; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order.append(QApplication::focusWidget()->accessibleName());
        }
        QCOMPARE(order, (QStringList{"Подключить", "Амстердам, выбран", "Рига"}));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(rig.model->selected()->name, QString("Рига"));
    }
};

QTEST_MAIN(HomeViewTest)
#include "tst_home_view.moc"
