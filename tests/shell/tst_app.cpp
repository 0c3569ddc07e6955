// The app over the real controllers: the window's content, the tray menu and icon, the app as a
// whole, and how a "vemko" link from the desktop or a second launch reaches it.

#include "DesktopEntry.h"
#include "GuiDesktop.h"
#include "MainWindow.h"
#include "MenuBarView.h"
#include "RootView.h"
#include "SingleInstance.h"
#include "TabBar.h"
#include "Toast.h"
#include "Tray.h"
#include "VemkoVPNApp.h"
#include "screens/UiRig.h"

#include <QAccessible>
#include <QClipboard>
#include <QFile>
#include <QLineEdit>
#include <QLocalSocket>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
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

    // The menu's entries and the tray icon follow the status.
    void subscribedOffConnectingAndOn() {
        MenuRig rig;
        rig.account(true);
        Tray tray(rig.menu(), rig.tunnel(), [] {});
        QVERIFY(!tray.check()); // offscreen there is no tray host: nothing shown, nothing broken
        rig.model->select(rig.model->profiles()[1]);
        QCOMPARE(rig.entries().mid(0, 3), (QStringList{"Отключено", "—", "Подключить · Рига"}));
        QCOMPARE(tray.symbolName(), QString("shield"));
        const qint64 off = tray.icon()->icon().cacheKey();

        rig.action("mainAction")->trigger();
        QCOMPARE(rig.entries().mid(0, 3), (QStringList{"Подключаюсь…", "—", "Отключить"}));
        QCOMPARE(tray.symbolName(), QString("shield.lefthalf.filled"));
        QVERIFY(tray.icon()->icon().cacheKey() != off); // the icon shown, not only its name
        QVERIFY(drive([&] { return rig.tunnel().status() == VpnStatus::On; }, &rig.clock));
        QCOMPARE(rig.entries().first(), QString("Подключено · Рига"));
        QCOMPARE(tray.symbolName(), QString("shield.fill"));
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
    // keeps everything. (Signed out, a link signs in at once: secondLaunchSignsTheFirstIn.)
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

    // ---- links from the desktop and a second launch
    void secondLaunchSignsTheFirstIn() {
        QTemporaryDir runtime;
        const QString folder = runtime.filePath("vemko-vpn");
        SingleInstance first(folder);
        QDir().mkpath(folder);
        // A socket file left behind by a crashed copy does not stop us.
        QFile stale(first.socketPath());
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();
        QCOMPARE(first.claim({"vemko-vpn"}), SingleInstance::Role::First);

        QProcess second;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", runtime.path());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        second.setProcessEnvironment(environment);
        second.start(qEnvironmentVariable("VEMKO_BUILD_DIR") + "/bin/vemko-vpn",
                     {"--", "https://vemko.app/x", "vemko://auth?token=from-the-link"});
        // Arrives before the app is ready: kept for it. The sign-in link is found among others.
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 20000);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);

        UiRig rig;
        rig.serveAccount();
        rig.make();
        VemkoVPNApp app(rig.context(), rig.service().origin());
        first.setHandler([&app](const QStringList& arguments) { app.handleArguments(arguments); });
        QTRY_VERIFY_WITH_TIMEOUT(rig.model->signedIn(), 20000);
        QCOMPARE(rig.token(), std::optional<QString>("from-the-link"));
        QVERIFY(app.window()->isVisible());
    }

    void aSecondClaimInTheSameFolderForwards() {
        QTemporaryDir runtime;
        SingleInstance first(runtime.filePath("gui"));
        QCOMPARE(first.claim({"vemko-vpn"}), SingleInstance::Role::First);
        QStringList received;
        first.setHandler([&](const QStringList& arguments) { received = arguments; });
        // Garbage on the socket is dropped without harm.
        QLocalSocket junk;
        junk.connectToServer(first.socketPath());
        QVERIFY(junk.waitForConnected(20000));
        junk.write("\x7f\xff\xff\xffjunk");
        junk.flush();
        QTRY_COMPARE_WITH_TIMEOUT(junk.state(), QLocalSocket::UnconnectedState, 20000);
        QVERIFY(received.isEmpty());
    }

    void execQuotesEveryPath_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("quoted");
        const auto row = [](const char* tag, const char* program, const char* quoted) {
            QTest::newRow(tag) << QString(program) << QString(quoted);
        };
        row("plain", "/usr/bin/vemko-vpn", "\"/usr/bin/vemko-vpn\"");
        row("space", "/opt/Vemko VPN.AppDir/AppRun", "\"/opt/Vemko VPN.AppDir/AppRun\"");
        row("quote and dollar", "/tmp/a\"b$c/x", "\"/tmp/a\\\\\"b\\\\$c/x\"");
        row("percent", "/tmp/100%/x", "\"/tmp/100%%/x\"");
        row("backslash and backtick", "/tmp/a\\b`c", "\"/tmp/a\\\\\\\\b\\\\`c\"");
    }
    void execQuotesEveryPath() {
        QFETCH(QString, program);
        QFETCH(QString, quoted);
        QCOMPARE(DesktopEntry::quoteExec(program), quoted);
    }

    void writtenWhenMissingOrPointingElsewhere() {
        QTemporaryDir data;
        // xdg-mime, where installed, records the handler under the config folder: a private one.
        qputenv("XDG_CONFIG_HOME", data.filePath("config").toUtf8());
        const QString path = data.filePath("applications/vemko-vpn.desktop");
        QVERIFY(DesktopEntry::install("/opt/a/vemko-vpn", data.path()));
        QFile entry(path);
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(entry.readAll());
        entry.close();
        for (const char* line :
             {"Name=Vemko VPN\n", "Exec=\"/opt/a/vemko-vpn\" -- %u\n", "MimeType=x-scheme-handler/vemko;\n",
              "StartupWMClass=vemko-vpn\n", "Icon=vemko-vpn\n"})
            QVERIFY2(text.contains(QString::fromUtf8(line)), line);
        QVERIFY(QFile::exists(data.filePath("icons/hicolor/256x256/apps/vemko-vpn.png")));
        QVERIFY(!DesktopEntry::install("/opt/a/vemko-vpn", data.path())); // already right: left alone
        QVERIFY(DesktopEntry::install("/opt/b/vemko-vpn", data.path()));
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(entry.readAll()).contains("Exec=\"/opt/b/vemko-vpn\" -- %u"));
    }
};

QTEST_MAIN(AppTest)
#include "tst_app.moc"
