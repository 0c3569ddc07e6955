// The app as a whole over the real controllers: the start-up sequence on every showing with one
// update loop per process, the refresh on becoming active, closing.

#include "GuiDesktop.h"
#include "MainWindow.h"
#include "RootView.h"
#include "VemkoVPNApp.h"
#include "screens/UiRig.h"

#include <QClipboard>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

namespace {

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
