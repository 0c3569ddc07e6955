// The app over the real controllers: the window's content (sign-in versus tabs, the toast's timing
// on the virtual clock, the keyboard and screen-reader walk), the tray menu and icon per state, and
// the app as a whole (start-up on every showing with one update loop per process, links, the
// refresh on becoming active, closing).

#include "GuiDesktop.h"
#include "MainWindow.h"
#include "MenuBarView.h"
#include "RootView.h"
#include "TabBar.h"
#include "Toast.h"
#include "Tray.h"
#include "VemkoVPNApp.h"
#include "screens/UiRig.h"

#include <QAccessible>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>

namespace {

struct RootRig : UiRig {
    RootView& root() {
        if (!view)
            show(new RootView(context()));
        return static_cast<RootView&>(*view);
    }
    Toast& toast() { return *root().toast(); }
};

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

struct AppRig : UiRig {
    AppRig() {
        serveAccount();
        api.signIn();
        make();
        app = std::make_unique<VemkoVPNApp>(context(), service().origin());
        settle();
        service().clearRequests();
    }
    MainWindow& window() { return *app->window(); }
    std::unique_ptr<VemkoVPNApp> app;
};

} // namespace

class AppTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { stillStyle(); }

    // ---- the window's content
    void signedOutShowsOnlySignInThenTabsWithoutRestart() {
        RootRig rig;
        rig.serveAccount();
        rig.make();
        QVERIFY(rig.root().signInScreen()->isVisible() && !rig.root().tabBar()->isVisible());
        rig.service().on("GET", "/api/v1/me", me(true));
        QVERIFY(rig.finish(rig.model->signInWithToken("link-token")));
        QVERIFY(rig.root().tabBar()->isVisible() && rig.root().screen(Tab::Home)->isVisible());
        QVERIFY(!rig.root().signInScreen()->isVisible());
    }

    void theSelectedTabStays() {
        RootRig rig;
        rig.account(true);
        TabBar* tabs = rig.root().tabBar();
        for (int click = 0; click < 2; ++click) { // a second click on the selected tab changes nothing
            QTest::mouseClick(tabs->button(Tab::Devices), Qt::LeftButton);
            QCOMPARE(rig.root().tab(), Tab::Devices);
            QVERIFY(rig.root().screen(Tab::Devices)->isVisible());
            QVERIFY(tabs->button(Tab::Devices)->selected() && !tabs->button(Tab::Home)->selected());
        }
        QCOMPARE(
            QAccessible::queryAccessibleInterface(tabs->button(Tab::Devices))->text(QAccessible::Description),
            QString("выбрана"));
        QVERIFY(!rig.root().findChild<QWidget*>("screenFade")->isVisible());
    }

    void toastShowsMessageBeforeErrorAndClearsBothAfterFourSeconds() {
        RootRig rig;
        rig.account(true);
        rig.root();
        // Flows run without moving virtual time: only the test moves the toast's clock.
        // A pending payment, then a failing promo code; 3 s later the payment is confirmed.
        rig.service().on("POST", "/api/v1/promo", refusal(400, "Код не найден"));
        QVERIFY(rig.pendingPaidOrder());
        QVERIFY(runTask(rig.model->applyPromo("NOPE")));
        QCOMPARE(rig.toast().text(), QString("Код не найден"));
        rig.clock.advance(3s);
        QVERIFY(runTask(rig.model->checkPayment()));
        QVERIFY(rig.model->error() && rig.model->message());
        QCOMPARE(rig.toast().text(), *rig.model->message()); // the message wins over the error
        rig.clock.advance(999ms);
        QVERIFY(rig.toast().shown());
        rig.clock.advance(1ms); // 4 s after it first appeared, not after the new text
        QVERIFY(!rig.toast().shown());
        QVERIFY(!rig.model->message() && !rig.model->error());
        QCOMPARE(rig.toast().y(), rig.root().height()); // slid out below the edge

        // Cleared elsewhere early: the old wait clears nothing of the next toast.
        QVERIFY(runTask(rig.model->applyPromo("NOPE")));
        rig.model->clearNotices();
        QVERIFY(!rig.toast().shown());
        rig.clock.advance(2s);
        QVERIFY(runTask(rig.model->applyPromo("NOPE")));
        rig.clock.advance(2s + 500ms);
        QVERIFY(rig.toast().shown());
        QCOMPARE(rig.toast().geometry().bottom() + 1, rig.root().height() - 70);
        rig.clock.advance(1500ms);
        QVERIFY(!rig.toast().shown());
    }

    void keyboardWalkNamesEveryControl() {
        RootRig rig;
        rig.account(true);
        rig.root().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&rig.root()));
        QWidget* first = rig.root().screen(Tab::Home)->findChild<QWidget*>("powerButton");
        first->setFocus();
        QStringList names;
        QWidget* focused = first;
        for (int i = 0; i < 12; ++i) {
            const QString name = QAccessible::queryAccessibleInterface(focused)->text(QAccessible::Name);
            QVERIFY2(!name.isEmpty(), qPrintable(focused->metaObject()->className()));
            names.append(name);
            QTest::keyClick(focused, Qt::Key_Tab);
            focused = QApplication::focusWidget();
            if (focused == first)
                break;
        }
        // The power button, the servers in list order, then the tabs.
        QCOMPARE(names.mid(0, 4), (QStringList{"Подключить", "Амстердам, выбран", "Рига", "Главная"}));
        QVERIFY2(names.contains("Ещё"), qPrintable(names.join(" | ")));
        rig.root().tabBar()->button(Tab::More)->setFocus();
        QTest::keyClick(rig.root().tabBar()->button(Tab::More), Qt::Key_Return);
        QCOMPARE(rig.root().tab(), Tab::More);
    }

    // ---- the tray menu and icon
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

    // ---- the app as a whole
    void everyShowingRunsStartupButOneUpdateLoop() {
        AppRig rig;
        rig.app->openWindow();
        QVERIFY(drive([&] { return rig.count("app/version") >= 2; }, nullptr)); // load's and startup's check
        rig.window().root()->setTab(Tab::More);
        for (int reopen = 0; reopen < 3; ++reopen) {
            rig.window().close(); // offscreen: no tray, so this is a hide plus quit request
            rig.window().hide();
            rig.app->openWindow();
        }
        QCOMPARE(rig.window().root()->tab(), Tab::Home);
        QVERIFY(drive([&] { return rig.count("me") >= 4; }, nullptr));
        rig.settle();
        rig.service().clearRequests();
        rig.clock.advance(3h);
        QVERIFY(drive([&] { return rig.count("app/version") >= 1; }, nullptr));
        rig.settle();
        QCOMPARE(rig.count("app/version"), 1);
        QCOMPARE(rig.desktop.terminations, 3); // closing without a tray quits
    }

    // Started at login with no tray to stay in, the app still shows its window.
    void hiddenStartWithoutTrayShowsTheWindow() {
        AppRig rig;
        rig.app->handleArguments({"vemko-vpn", "--hidden"});
        QVERIFY(rig.window().isVisible());
    }

    // A sign-in link while signed in asks first, naming the account it would replace; declining
    // keeps everything. (Signed out, a link signs in at once: tst_single_instance.)
    void signInLinkWhileSignedInAsksFirst() {
        AppRig rig;
        for (const auto& [answer, token] :
             {std::pair{"keepAccount", "test-token"}, {"switchAccount", "other"}}) {
            rig.app->handleArguments({"vemko-vpn", "--", "vemko://auth?token=other"});
            auto* prompt = rig.window().findChild<QMessageBox*>("switchAccountPrompt");
            QVERIFY(prompt && prompt->isVisible());
            QCOMPARE(prompt->text(), "Войти как другой пользователь?");
            QCOMPARE(prompt->informativeText(),
                     "Сейчас вы вошли как u@example.com. Ссылка заменит этот аккаунт другим.");
            prompt->findChild<QPushButton*>(answer)->click();
            rig.settle();
            QCOMPARE(rig.api.secure.items.value("token"), token);
        }
    }

    // While the window is shown a pending payment is followed at once, without coming back to the
    // app; hidden, it waits for the next activation.
    void shownWindowFollowsThePayment() {
        AppRig rig;
        rig.app->openWindow();
        rig.settle();
        rig.service().enqueue("GET", "/api/v1/pay/7",
                              ScriptedReply::json(200, QJsonObject{{"status", "pending"}}));
        QVERIFY(rig.pendingPaidOrder());
        QVERIFY(drive([&] { return !rig.model->pendingOrder(); }, &rig.clock));
        QCOMPARE(rig.model->message(), "Оплата прошла, подписка продлена");
        QCOMPARE(rig.count("pay/7"), 2);

        rig.window().hide();
        QVERIFY(rig.pendingPaidOrder());
        rig.clock.advance(1min);
        rig.settle();
        QCOMPARE(rig.count("pay/7"), 2);
        QVERIFY(rig.model->pendingOrder());
    }

    // No browser to open a link (offscreen, as without xdg-open): the link is shown to copy.
    void aLinkNoBrowserOpensIsShownToCopy() {
        GuiDesktop desktop;
        const QUrl page("https://pay.example/7?k=1");
        QVERIFY(!desktop.openUrl(page));
        QDialog* dialog = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->objectName() == "linkDialog")
                dialog = qobject_cast<QDialog*>(top);
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->findChild<QLineEdit*>("linkText")->text(), page.toString());
        dialog->findChild<QPushButton*>("copyLink")->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), page.toString());
    }

    void becomingActiveLoadsThenChecksThePayment() {
        AppRig rig;
        QVERIFY(rig.pendingPaidOrder());
        rig.service().clearRequests();
        // What the platform reports when the user comes back from the browser.
        emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
        QTRY_COMPARE_WITH_TIMEOUT(rig.model->pendingOrder(), std::nullopt, 20000);
        // The fresh load first, then the payment status.
        QCOMPARE(rig.calls().first(), QString("me"));
        QVERIFY(rig.calls().indexOf("pay/7") > rig.calls().indexOf("app/version"));
    }
};

QTEST_MAIN(AppTest)
#include "tst_app.moc"
