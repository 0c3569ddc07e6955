// The main window's content: sign-in versus tabs, the tab bar, the toast's timing on the virtual
// clock, and the keyboard and screen-reader walk.

#include "RootView.h"
#include "TabBar.h"
#include "Toast.h"
#include "screens/UiRig.h"

#include <QAccessible>
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

} // namespace

class RootViewTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { stillStyle(); }

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
};

QTEST_MAIN(RootViewTest)
#include "tst_root_view.moc"
