// The more screen over the real model and updater: the header, the referral and promo cards,
// the switches, the help links and the update card through a real (failing) installation.

#include "AccountRig.h"
#include "ScreenHeader.h"
#include "platform/TunnelMode.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

namespace {

struct MoreRig : AccountRig {
    void open(const QJsonObject& account = {}) {
        signedIn(account);
        show(makeMoreScreen(context(), nullptr));
    }
    void click(const QString& name) { QTest::mouseClick(find<QAbstractButton>(name), Qt::LeftButton); }
    // The service offers build 43 with its archive at /u.zip.
    void offerUpdate(const QString& notes) {
        service().on("GET", "/api/v1/app/version",
                     ok(QString(R"({"version_code":43,"version_name":"1.4","url":"%1/u.zip","notes":"%2"})")
                            .arg(service().origin(), notes)));
        finish(updater->check(false));
    }
};

} // namespace

class MoreViewTest : public QObject {
    Q_OBJECT
private slots:
    void headerAndCards_data() {
        QTest::addColumn<QJsonObject>("account");
        QTest::addColumn<QString>("subtitle");
        QTest::addColumn<bool>("promo");
        QTest::newRow("e-mail before telegram")
            << QJsonObject{{"email", "a@b.c"}, {"telegram", "vemko"}} << "a@b.c" << false;
        QTest::newRow("telegram only")
            << QJsonObject{{"email", QJsonValue::Null}, {"telegram", "vemko"}, {"promo_available", true}}
            << "@vemko" << true;
        QTest::newRow("neither") << QJsonObject{{"email", QJsonValue::Null}} << "аккаунт" << false;
    }
    void headerAndCards() {
        QFETCH(QJsonObject, account);
        QFETCH(QString, subtitle);
        QFETCH(bool, promo);
        MoreRig rig;
        rig.open(account);
        QCOMPARE(rig.find<ScreenHeader>({})->subtitle(), subtitle);
        QCOMPARE(rig.shown("promoCard"), promo);
        QVERIFY(rig.shown("referralCard"));
        QCOMPARE(misnamedControls(rig.view.get()), QStringList());
    }

    // The tunnel mode, bound to the controller both ways; the whole system installs the helper
    // first, through the stand-in for pkexec, and changes the mode only once it is in place.
    void tunnelMode_data() {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QString>("elevate"); // the stand-in's script
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("error"); // "" : none shown, the chosen mode holds; else the desktop proxy
        const auto row = [](const char* tag, bool present, const char* elevate, const char* chosen,
                            const char* error) {
            QTest::newRow(tag) << present << QString(elevate) << QString(chosen) << QString(error);
        };
        row("socks", false, "", "socks", "");
        row("system, helper there", true, "", "system", "");
        row("system, installed now", false, R"(test -f "$5/vemko-netd" && touch "$0")", "system", "");
        row("system, prompt dismissed", false, "exit 126", "system",
            "Установка помощника отменена. Ничего не изменено.");
        row("system, not authorized", false, "exit 127", "system", "Нет прав администратора");
        row("system, the step failed", false,
            "echo 'vemko-netd-install: cannot write to /usr/libexec/vemko-vpn' >&2; exit 1", "system",
            "Не удалось установить помощник vemko-netd: cannot write to /usr/libexec/vemko-vpn. "
            "Ничего не изменено.");
        row("system, done but not there", false, "exit 0", "system", "помощник vemko-netd не появился");
    }
    void tunnelMode() {
        QFETCH(bool, present);
        QFETCH(QString, elevate);
        QFETCH(QString, chosen);
        QFETCH(QString, error);
        const QString mode = error.isEmpty() ? chosen : QString("desktop_proxy");
        MoreRig rig;
        rig.helperPresent = present;
        rig.elevate = {"sh", "-c", elevate, rig.helperMark()};
        rig.api.store.setTunnelMode(TunnelMode::DesktopProxy);
        rig.open();
        QVERIFY(rig.find<QAbstractButton>("mode_desktop_proxy")->isChecked());
        QCOMPARE(rig.shown("helperNote"), !present);

        rig.find<QAbstractButton>("mode_" + chosen)->click(); // below the fold: no mouse reaches it
        QTRY_VERIFY_WITH_TIMEOUT(!rig.helper->running(), 20000);
        QCOMPARE(rig.tunnel().tunnelMode(), mode);
        QVERIFY(rig.find<QAbstractButton>("mode_" + mode)->isChecked());
        QCOMPARE(rig.shown("helperError"), !error.isEmpty());
        QVERIFY2(rig.text("helperError").contains(error), qPrintable(rig.text("helperError")));
        QVERIFY(!rig.shown("helperProgress"));
        QCOMPARE(rig.shown("helperNote"), mode != "system" && !present);

        // Set elsewhere (vemkoctl, another window): the choice follows.
        rig.tunnel().setTunnelMode("socks");
        QVERIFY(rig.find<QAbstractButton>("mode_socks")->isChecked());
    }

    // While the administrator prompt is up the choice waits, with progress shown.
    void installShowsProgress() {
        MoreRig rig;
        rig.elevate = {"sh", "-c", "sleep 1; exit 126"};
        rig.open();
        rig.find<QAbstractButton>("mode_system")->click();
        QVERIFY(rig.shown("helperProgress"));
        QVERIFY(!rig.find<QAbstractButton>("mode_socks")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!rig.shown("helperProgress"), 20000);
        QVERIFY(rig.find<QAbstractButton>("mode_socks")->isEnabled());
    }

    void signedOut() {
        MoreRig rig;
        rig.serveAccount();
        rig.make();
        rig.show(makeMoreScreen(rig.context(), nullptr));
        QCOMPARE(rig.find<ScreenHeader>({})->subtitle(), "аккаунт");
        QVERIFY(!rig.shown("promoCard") && !rig.shown("referralCard"));
        rig.click("supportButton");
        rig.click("accountButton");
        QCOMPARE(rig.desktop.opened,
                 (QList<QUrl>{QUrl("https://t.me/vemko_bot"), QUrl(rig.service().origin() + "/account")}));
    }

    // Fixed nouns whatever the numbers; the link is copied, not the code.
    void referral() {
        MoreRig rig;
        const QString link = "https://vemko.app/r/VEMKO-42";
        rig.serve();
        rig.service().on(
            "GET", "/api/v1/referral",
            ok(QString(R"({"code":"VEMKO-42","link":"%1","invited":12,"paid":5,"days":31,"days_invite":2,)"
                       R"("days_paid":7,"days_friend":5})")
                   .arg(link)));
        rig.open();
        QCOMPARE(rig.text("referralBadge"), "+7 дней бесплатно");
        QCOMPARE(rig.text("referralText"),
                 "Другу — 5 день сразу. Вам — 2 день за каждого и ещё 7 дней, когда он "
                 "впервые оплатит подписку.");
        QCOMPARE(rig.text("referralCode"), "VEMKO-42");
        QCOMPARE((QStringList{rig.text("statInvited"), rig.text("statPaid"), rig.text("statDays")}),
                 (QStringList{"12", "5", "31"}));
        rig.click("copyLinkButton");
        QCOMPARE(rig.desktop.copied, QStringList{link});
        rig.click("supportButton");
        QCOMPARE(rig.desktop.opened, QList<QUrl>{QUrl("https://t.me/vemko_support")});
    }

    // Sent as typed; the field empties after the flow, whichever way it ended.
    void promo_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("accepted") << "VEMKO7" << true;
        QTest::newRow("only spaces, refused") << "   " << false;
    }
    void promo() {
        QFETCH(QString, code);
        QFETCH(bool, accepted);
        MoreRig rig;
        rig.service().on("POST", "/api/v1/promo",
                         accepted ? ok(R"({"ok":true,"message":"+7 дней"})")
                                  : refusal(400, "Нет такого кода"));
        rig.open({{"promo_available", true}});
        QVERIFY(!rig.find<QPushButton>("promoButton")->isEnabled());
        QTest::keyClicks(rig.find<QLineEdit>("promoField"), code);
        QVERIFY(rig.find<QPushButton>("promoButton")->isEnabled());
        rig.click("promoButton");
        QTRY_VERIFY_WITH_TIMEOUT(rig.find<QLineEdit>("promoField")->text().isEmpty() && !rig.model->busy(),
                                 20000);
        QCOMPARE(rig.model->message().has_value(), accepted);
        QCOMPARE(rig.service().requests("POST", "/api/v1/promo").first().json()["code"].toString(), code);
    }

    // The switch shows what the login item reports, afresh; a refused change shows the error.
    void loginItemSwitch() {
        MoreRig rig;
        rig.open();
        auto* box = rig.find<QCheckBox>("loginItemSwitch");
        QVERIFY(!box->isChecked());
        rig.click("loginItemSwitch");
        QVERIFY(rig.loginItem.on && box->isChecked());
        rig.loginItem.on = false; // switched off elsewhere
        rig.view->hide();
        rig.view->show();
        QVERIFY(!box->isChecked());
        rig.loginItem.failWrites = true;
        rig.click("loginItemSwitch");
        QVERIFY(!box->isChecked());
        QCOMPARE(rig.model->error(), std::optional<QString>("Не удалось изменить автозапуск"));
    }

    void storedSwitches() {
        MoreRig rig;
        rig.open();
        QVERIFY(rig.find<QCheckBox>("autoConnectSwitch")->isChecked() &&
                rig.find<QCheckBox>("autoUpdateSwitch")->isChecked());
        rig.click("autoConnectSwitch");
        rig.click("autoUpdateSwitch");
        QCOMPARE(rig.api.defaults.boolean("auto_connect"), std::optional<bool>(false));
        QCOMPARE(rig.api.defaults.boolean("auto_update"), std::optional<bool>(false));
        // Turning automatic updates on asks the service nothing.
        rig.service().clearRequests();
        rig.click("autoUpdateSwitch");
        rig.settle();
        QCOMPARE(rig.api.defaults.boolean("auto_update"), std::optional<bool>(true));
        QVERIFY(rig.calls().isEmpty());
        // A change that cannot be saved says so, and the switch shows what holds.
        rig.api.defaults.full = true;
        rig.click("autoConnectSwitch");
        QVERIFY(!rig.find<QCheckBox>("autoConnectSwitch")->isChecked());
        QCOMPARE(rig.model->error(), std::optional<QString>("Настройка не сохранилась: нет места на диске"));
    }

    void noNewerVersion() {
        MoreRig rig;
        rig.open();
        QCOMPARE(rig.text("currentVersion"), "Версия 1.2.3 — самая свежая");
        QVERIFY(rig.shown("checkButton"));
        QVERIFY(!rig.shown("installButton") && !rig.shown("progressRow") && !rig.shown("updateMessage"));
        rig.click("checkButton");
        QTRY_VERIFY_WITH_TIMEOUT(rig.count("app/version") > 0, 20000);
    }

    // A real installation of an archive that is no archive: the card at 60 %, then the failure.
    void updateInProgressThenFailed() {
        MoreRig rig;
        rig.open();
        rig.service().on("GET", "/u.zip", ScriptedReply::text(200, "not a zip", "application/zip"));
        rig.offerUpdate("Быстрее подключается");
        QCOMPARE(rig.text("updateTitle"), "Есть версия 1.4");
        QCOMPARE(rig.text("updateNotes"), "Быстрее подключается");
        QVERIFY(rig.shown("installButton") && !rig.shown("checkButton") && !rig.shown("currentVersion"));

        QStringList at60;
        QObject::connect(rig.updater.get(), &Updater::progressChanged, rig.view.get(), [&] {
            if (rig.updater->progress() == 60)
                at60 = {QString::number(rig.find<QProgressBar>("updateProgress")->value()),
                        rig.text("updateProgressText"), rig.shown("installButton") ? "button" : "no button"};
        });
        rig.click("installButton");
        QTRY_VERIFY_WITH_TIMEOUT(rig.shown("updateMessage"), 20000);
        QCOMPARE(at60, (QStringList{"60", "Обновляю: 60 %", "no button"}));
        QVERIFY(rig.text("updateMessage").startsWith("Не удалось обновиться: "));
        QVERIFY(rig.shown("installButton") && !rig.shown("progressRow"));
    }

    // An install from the system package: the newer version is named, the package manager brings it.
    void packageManagedInstall() {
        MoreRig rig;
        rig.setup.packageManaged = true;
        rig.updater = std::make_unique<Updater>(rig.api.api, rig.api.store, rig.desktop, rig.api.network,
                                                Clock::system(), rig.setup);
        rig.open();
        rig.offerUpdate({});
        QVERIFY(rig.shown("packageManagedNote"));
        QVERIFY(!rig.shown("installButton") && !rig.shown("autoUpdateSwitch"));
    }
};

QTEST_MAIN(MoreViewTest)
#include "tst_more_view.moc"
