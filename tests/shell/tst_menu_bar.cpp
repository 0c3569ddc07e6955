// The tray menu and icon over the real model and tunnel: entries per state, their actions, the
// server list, quitting, and the icon following the status.

#include "MenuBarView.h"
#include "Tray.h"
#include "screens/UiRig.h"

#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>

namespace {

struct MenuRig : UiRig {
    MenuBarView& menu() {
        if (!bar)
            bar = std::make_unique<MenuBarView>(
                *model, tunnel(), desktop, QStringLiteral("https://vemko.example"), [this] { ++raised; },
                [this] {
                    quitWhileOn = tunnel().status() != VpnStatus::Off;
                    ++quits;
                });
        return *bar;
    }
    QAction* action(const QString& name) {
        QAction* found = menu().menu()->findChild<QAction*>(name);
        if (!found || !found->isEnabled())
            qWarning("no enabled action %s", qPrintable(name));
        return found;
    }
    // The entries of the menu or (with `serverMenu`) of its server list; "—" for a separator.
    QStringList entries(const QString& submenu = {}) {
        QStringList texts;
        if (QMenu* shown = submenu.isEmpty() ? menu().menu() : menu().menu()->findChild<QMenu*>(submenu))
            for (QAction* entry : shown->actions())
                texts.append(entry->isSeparator() ? QStringLiteral("—") : entry->text());
        return texts;
    }

    int raised = 0;
    int quits = 0;
    bool quitWhileOn = true;
    std::unique_ptr<MenuBarView> bar;
};

} // namespace

class MenuBarTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { stillStyle(); }

    void entriesPerState() {
        MenuRig rig;
        rig.account(false, 0, {});
        QCOMPARE(rig.entries(), (QStringList{"Подписка не активна", "—", "Нужна подписка", "—",
                                             "Открыть Вемко", "Личный кабинет", "—", "Выйти из программы"}));
        rig.action("mainAction")->trigger();
        QCOMPARE(rig.raised, 1);
    }

    void subscribedOffConnectingAndOn() {
        MenuRig rig;
        rig.account(true);
        rig.model->select(rig.model->profiles()[1]);
        QCOMPARE(rig.entries().mid(0, 3), (QStringList{"Отключено", "—", "Подключить · Рига"}));

        rig.action("mainAction")->trigger();
        QCOMPARE(rig.entries().mid(0, 3), (QStringList{"Подключаюсь…", "—", "Отключить"}));
        QVERIFY(drive([&] { return rig.tunnel().status() == VpnStatus::On; }, &rig.clock));
        QCOMPARE(rig.entries().first(), QString("Подключено · Рига"));
        rig.action("mainAction")->trigger();
        QCOMPARE(rig.tunnel().status(), VpnStatus::Off);
    }

    void choosingAServer_data() {
        QTest::addColumn<bool>("active");
        QTest::newRow("subscribed: stores and connects") << true;
        QTest::newRow("not subscribed: only stores") << false;
    }
    void choosingAServer() {
        QFETCH(bool, active);
        MenuRig rig;
        rig.cache(configs({"Амстердам", "Рига"})); // without a subscription the list is the cached one
        rig.account(active, 44, {"Амстердам", "Рига"});
        QCOMPARE(rig.model->profiles().size(), 2);
        rig.menu().menu()->findChild<QMenu*>("serverMenu")->actions()[1]->trigger();
        QCOMPARE(rig.model->selected()->name, QString("Рига"));
        QCOMPARE(rig.tunnel().status(), active ? VpnStatus::Connecting : VpnStatus::Off);
        QCOMPARE(rig.entries("serverMenu"), (QStringList{"Амстердам", "✓ Рига"}));
    }

    void accountPageAndQuit() {
        MenuRig rig;
        rig.account(true);
        rig.action("account")->trigger();
        QCOMPARE(rig.desktop.opened, (QList<QUrl>{QUrl("https://vemko.example/account")}));
        rig.action("openWindow")->trigger();
        QCOMPARE(rig.raised, 1);
        startMainTask(rig.tunnel().connect(*rig.model->selected()));
        QVERIFY(drive([&] { return rig.tunnel().status() == VpnStatus::On; }, &rig.clock));
        rig.action("quit")->trigger();
        QCOMPARE(rig.quits, 1);
        QVERIFY(!rig.quitWhileOn); // the tunnel was stopped before quitting

        // Without a usable service address the account entry opens nothing.
        rig.desktop.opened.clear();
        MenuBarView broken(
            *rig.model, rig.tunnel(), rig.desktop, QStringLiteral("not a url"), [] {}, [] {});
        broken.menu()->findChild<QAction*>("account")->trigger();
        QVERIFY(rig.desktop.opened.isEmpty());
    }

    void trayIconFollowsTheStatus() {
        MenuRig rig;
        rig.account(true);
        Tray tray(rig.menu(), rig.tunnel(), [] {});
        QCOMPARE(tray.symbolName(), QString("shield"));
        const qint64 off = tray.icon()->icon().cacheKey();
        startMainTask(rig.tunnel().connect(*rig.model->selected()));
        QCOMPARE(tray.symbolName(), QString("shield.lefthalf.filled"));
        QVERIFY(tray.icon()->icon().cacheKey() != off); // the icon shown, not only its name
        QVERIFY(drive([&] { return rig.tunnel().status() == VpnStatus::On; }, &rig.clock));
        QCOMPARE(tray.symbolName(), QString("shield.fill"));
        QVERIFY(!tray.check()); // offscreen there is no tray host: nothing shown, nothing broken
    }
};

QTEST_MAIN(MenuBarTest)
#include "tst_menu_bar.moc"
