// The account screens (sign-in, devices, tariffs, more) over their rig: the real model and
// updater, a fake login item, a helper installer that installs nothing as root.

#include "AccountRig.h"
#include "Card.h"
#include "LoginView.h"
#include "ScreenHeader.h"
#include "Segmented.h"
#include "platform/TunnelMode.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

namespace {

struct LoginRig : AccountRig {
    LoginView& login() {
        if (!view) {
            serveAccount();
            make();
            show(makeSignInScreen(context(), nullptr));
        }
        return *static_cast<LoginView*>(view.get());
    }
    void type(const QString& email, const QString& password) {
        login();
        find<QLineEdit>("emailField")->setText(email);
        find<QLineEdit>("passwordField")->setText(password);
    }
};

struct DevicesRig : AccountRig {
    void open(const QJsonArray& devices, qint64 used = 2, qint64 limit = 5) {
        signedIn({{"devices", devices}, {"devices_used", used}, {"devices_limit", limit}});
        show(makeDevicesScreen(context(), nullptr));
    }
    QList<Card*> cards() {
        QList<Card*> found;
        for (Card* card : view->findChildren<Card*>())
            if (card->objectName().startsWith("device_"))
                found.append(card);
        std::sort(found.begin(), found.end(),
                  [](Card* a, Card* b) { return a->objectName() < b->objectName(); });
        return found;
    }
    QStringList texts(const QString& label) {
        QStringList lines;
        for (Card* card : cards())
            lines.append(card->findChild<QLabel*>(label)->text());
        return lines;
    }
};

QJsonObject plan(const QString& code, qint64 days, qint64 devices, qint64 price) {
    return {{"code", code}, {"days", days}, {"devices", devices}, {"price", price}};
}
QJsonObject tier(qint64 devices, double monthly, double yearly) {
    return {{"devices", devices}, {"monthly", monthly}, {"yearly", yearly}};
}
QJsonObject catalogue(const QJsonArray& plans, bool card = false, const QJsonArray& tiers = {},
                      qint64 trial = 0) {
    return {{"plans", plans},
            {"payments", true},
            {"card", card},
            {"stripe_tiers", tiers},
            {"stripe_trial_days", trial}};
}

struct TariffsRig : AccountRig {
    void tariffs(const QJsonObject& plans, qint64 limit = 3) {
        signedIn({{"devices_limit", limit}}, plans);
        show(makeTariffsScreen(context(), nullptr));
    }
    QStringList planCodes() {
        QStringList codes;
        for (Card* card : view->findChildren<Card*>())
            if (card->objectName().startsWith("plan_"))
                codes.append(card->objectName().mid(5));
        return codes;
    }
    QString label(const QString& card, const QString& name) { return find<QLabel>(card, name)->text(); }
    void choose(int devices) {
        QTest::mouseClick(find<Segmented>("devicesControl")->segment(devices), Qt::LeftButton);
    }
    void pay(const QString& code, const QString& method) {
        find<QMenu>("plan_" + code, "payMenu")->findChild<QAction*>(method)->trigger();
    }
};

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

class AccountScreensTest : public QObject {
    Q_OBJECT
private slots:
    // ---- sign-in: the main button's enable rule, the Telegram button, the two modes, the error
    // line and Enter in the password field
    void enableRule_data() {
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("enabled");
        const auto row = [](const char* tag, const char* email, const QString& password, bool enabled) {
            QTest::newRow(tag) << QString(email) << password << enabled;
        };
        row("no @", "user.example.com", "longenough1", false);
        row("7 latin", "u@x", "1234567", false);
        row("8 latin", "u@x", "12345678", true);
        row("8 cyrillic", "u@x", "пароль12", true);
        row("7 cyrillic", "u@x", "парольй", false);
        // Each is several UTF-16 units but one character to a reader.
        row("8 emoji with tone", "u@x", QString("👍🏽").repeated(8), true);
        row("7 emoji with tone", "u@x", QString("👍🏽").repeated(7), false);
        row("7 combined letters", "u@x", QString("е\u0308").repeated(7), false);
        row("spaces count", "@", "        ", true);
    }
    void enableRule() {
        QFETCH(QString, email);
        QFETCH(QString, password);
        QFETCH(bool, enabled);
        LoginRig rig;
        rig.type(email, password);
        QCOMPARE(rig.find<QPushButton>("mainButton")->isEnabled(), enabled);
        QVERIFY(rig.find<QPushButton>("telegramButton")->isEnabled());
    }

    void startsFromStoredEmail() {
        LoginRig rig;
        rig.api.defaults.setString("email", "me@vemko.app");
        rig.login();
        QCOMPARE(rig.find<QLineEdit>("emailField")->text(), "me@vemko.app");
        QCOMPARE(rig.find<QLineEdit>("passwordField")->echoMode(), QLineEdit::Password);
        QVERIFY(!rig.find<QPushButton>("mainButton")->isEnabled());
        QCOMPARE(misnamedControls(rig.view.get()), QStringList());
    }

    // Both buttons wait while a flow runs; the Telegram button needs no fields at all.
    void telegramWithEmptyFields() {
        LoginRig rig;
        rig.service().on(
            "POST", "/api/v1/auth/tg/start",
            ScriptedReply::json(200, QJsonObject{{"key", "k1"}, {"url", "https://t.me/vemko_bot?start=k1"}}));
        rig.service().on("GET", "/api/v1/auth/tg/poll", ScriptedReply::empty(204)); // not confirmed yet
        rig.type("u@x", "12345678");
        rig.find<QLineEdit>("emailField")->clear();
        rig.find<QLineEdit>("passwordField")->clear();
        QVERIFY(rig.find<QPushButton>("telegramButton")->isEnabled());
        QTest::mouseClick(rig.find<QPushButton>("telegramButton"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(rig.desktop.opened, QList{QUrl("https://t.me/vemko_bot?start=k1")}, 20000);
        QVERIFY(rig.model->busy() && !rig.find<QPushButton>("telegramButton")->isEnabled());
        rig.type("u@x", "12345678");
        QVERIFY(!rig.find<QPushButton>("mainButton")->isEnabled());
    }

    void modeSwitchKeepsFieldsAndError() {
        LoginRig rig;
        rig.service().on("POST", "/api/v1/auth/login", refusal(401, "Неверный пароль"));
        rig.type("u@x", "12345678");
        QTest::mouseClick(rig.find<QPushButton>("mainButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(rig.find<QLabel>("loginError")->isVisible(), 20000);
        QCOMPARE(rig.text("loginError"), "Неверный пароль");
        QCOMPARE(rig.text("loginTitle"), "С возвращением");

        QTest::mouseClick(rig.find<QPushButton>("modeButton"), Qt::LeftButton);
        QCOMPARE(rig.text("loginTitle"), "Заводим нору");
        QCOMPARE(rig.find<QLineEdit>("emailField")->text(), "u@x");
        QCOMPARE(rig.find<QLineEdit>("passwordField")->text(), "12345678");
        QVERIFY(rig.find<QLabel>("loginError")->isVisible());

        // The main button now creates the account with the same fields.
        rig.service().on("POST", "/api/v1/auth/register", refusal(409, "Почта занята"));
        QTest::mouseClick(rig.find<QPushButton>("mainButton"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(rig.text("loginError"), QString("Почта занята"), 20000);
        QCOMPARE(rig.service().requests("POST", "/api/v1/auth/register").value(0).json().toObject(),
                 (QJsonObject{{"email", "u@x"}, {"password", "12345678"}}));
    }

    void enterInPasswordField() {
        LoginRig rig;
        rig.service().on("POST", "/api/v1/auth/login", refusal(401, "Неверный пароль"));
        rig.type("u@x", "1234567");
        QTest::keyClick(rig.find<QLineEdit>("passwordField"), Qt::Key_Return);
        rig.settle();
        QCOMPARE(rig.count("auth/login"), 0);
        rig.find<QLineEdit>("passwordField")->setText("12345678");
        QTest::keyClick(rig.find<QLineEdit>("passwordField"), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(rig.count("auth/login") > 0, 20000);
    }

    // ---- devices: the counts, one card per device with its texts, the mark of this computer,
    // and unbinding
    // Names, details and the mark, in the service's order: the mark needs the exact identifier.
    void cardsInServiceOrder() {
        DevicesRig rig;
        const QString local = rig.api.store.hwid();
        rig.open(
            {QJsonObject{
                 {"hwid", "zz-other"}, {"model", "MacBook Air"}, {"os", "macOS 14.5"}, {"version", "1.2"}},
             QJsonObject{{"hwid", local}, {"model", "ThinkPad X1"}, {"os", "Debian 12"}},
             QJsonObject{{"hwid", local.toUpper()}, {"version", "1.3"}},
             QJsonObject{{"model", "Без идентификатора"}}, QJsonObject{}},
            4, 5);
        QCOMPARE(rig.find<ScreenHeader>({})->subtitle(), "занято 4 из 5");
        QCOMPARE(rig.texts("deviceName"), (QStringList{"MacBook Air", "ThinkPad X1 · этот компьютер",
                                                       "Устройство", "Без идентификатора", "Устройство"}));
        QCOMPARE(rig.texts("deviceDetails"), (QStringList{"macOS 14.5 1.2", "Debian 12", "1.3", "", ""}));
        QVERIFY(!rig.shown("devicesEmpty"));
        QCOMPARE(misnamedControls(rig.view.get()), QStringList());
    }

    void unbind() {
        DevicesRig rig;
        rig.service().on("POST", "/api/v1/devices/delete", ok("{}"));
        rig.open({QJsonObject{{"model", "Без идентификатора"}},
                  QJsonObject{{"hwid", "h-2"}, {"model", "Ноутбук"}}});
        QTest::mouseClick(rig.cards()[0]->findChild<QPushButton*>("unbindButton"), Qt::LeftButton);
        rig.settle();
        QVERIFY(rig.calls().isEmpty());
        QVERIFY(!rig.model->busy());

        QTest::mouseClick(rig.cards()[1]->findChild<QPushButton*>("unbindButton"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(rig.model->message(), std::optional<QString>("Устройство отвязано"), 20000);
        QCOMPARE(rig.service().requests("POST", "/api/v1/devices/delete").first().json()["hwid"].toString(),
                 "h-2");
    }

    // ---- tariffs: the device control, the plans it selects and their texts, the card
    // subscription, and the payments both start
    void deviceControlStartsFromTheLimit() {
        TariffsRig rig;
        rig.tariffs(catalogue({plan("a", 30, 3, 299), plan("b", 30, 1, 199), plan("c", 30, 7, 999)}), 3);
        QCOMPARE(rig.find<Segmented>("devicesControl")->value(), 3);
        QCOMPARE(rig.planCodes(), QStringList{"a"});
        // The texts are the shared ones (checked with the tariff list itself), placed on the card.
        QCOMPARE(rig.label("plan_a", "planTerm"), "30 дней");
        QCOMPARE(rig.label("plan_a", "planPrice"), "299 ₽ · 299 ₽ за месяц");
        rig.choose(7);
        QCOMPARE(rig.planCodes(), QStringList{"c"});
        // Shown again: back at the account's limit.
        rig.view->hide();
        rig.view->show();
        QCOMPARE(rig.find<Segmented>("devicesControl")->value(), 3);
        QCOMPARE(rig.planCodes(), QStringList{"a"});
    }

    void cardSection_data() {
        QTest::addColumn<bool>("card");
        QTest::addColumn<bool>("tiers"); // the section needs both
        QTest::newRow("card and tiers") << true << true;
        QTest::newRow("card, no tiers") << true << false;
        QTest::newRow("tiers, no card") << false << true;
    }
    void cardSection() {
        QFETCH(bool, card);
        QFETCH(bool, tiers);
        TariffsRig rig;
        rig.tariffs(
            catalogue({plan("a", 30, 3, 299)}, card, tiers ? QJsonArray{tier(3, 4.5, 48)} : QJsonArray{}));
        QCOMPARE(rig.shown("stripeSection"), card && tiers);
        QCOMPARE(rig.shown("oneOffCaption"), card && tiers);
    }

    void tierTexts_data() {
        QTest::addColumn<qint64>("trial");
        QTest::addColumn<QString>("button");
        QTest::newRow("no trial") << qint64(0) << "Подписаться";
        QTest::newRow("3 days") << qint64(3) << "Попробовать бесплатно";
    }
    void tierTexts() {
        QFETCH(qint64, trial);
        QFETCH(QString, button);
        TariffsRig rig;
        rig.tariffs(catalogue({}, true, {tier(5, 9, 90), tier(1, 4.5, 48), tier(3, 6, 60)}, trial));
        QCOMPARE(rig.find<QPushButton>("tier_1", "subscribeButton")->text(), button);
        QLabel* trialLine = rig.find<QLabel>("tier_1", "tierTrial");
        QCOMPARE(trialLine != nullptr, trial > 0);
        if (trialLine)
            QCOMPARE(trialLine->text(), "3 дня бесплатно, списание только после них");

        QCOMPARE(rig.label("tier_1", "tierPrice"), "$4.50 в месяц");
        QTest::mouseClick(rig.find<Segmented>("billingControl")->segment(1), Qt::LeftButton);
        QCOMPARE(rig.label("tier_1", "tierPrice"), "$48.00 в год · $4.00 в месяц");
        QVERIFY(rig.find<QLabel>("stripeFootnote")->text().endsWith(" в кабинете на 127.0.0.1."));
        QCOMPARE(misnamedControls(rig.view.get()), QStringList());
    }

    void subscribeOpensCheckout() {
        TariffsRig rig;
        const QString checkout = "https://checkout.stripe.com/c/1";
        rig.service().on("POST", "/api/v1/subscribe/stripe",
                         ScriptedReply::json(200, QJsonObject{{"url", checkout}}));
        rig.tariffs(catalogue({}, true, {tier(3, 6, 60)}));
        QTest::mouseClick(rig.find<Segmented>("billingControl")->segment(1), Qt::LeftButton);
        QTest::mouseClick(rig.find<QPushButton>("tier_3", "subscribeButton"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(rig.desktop.opened, QList<QUrl>{QUrl(checkout)}, 20000);
        QCOMPARE(rig.service().requests("POST", "/api/v1/subscribe/stripe").first().json().toObject(),
                 (QJsonObject{{"devices", 3}, {"interval", "year"}}));
    }

    // A payment remembers its order and opens its page, and the screen says it waits for it, with
    // the page to open again and a way to stop waiting; a refused one keeps the order before it.
    void payMenu() {
        TariffsRig rig;
        const QString page = "https://pay.example/5";
        rig.tariffs(catalogue({plan("m1", 30, 3, 299)}));
        rig.service().enqueue(
            "POST", "/api/v1/pay",
            ScriptedReply::json(200, QJsonObject{{"order_id", 5}, {"amount", 299}, {"url", page}}));
        rig.pay("m1", "sbp");
        QTRY_COMPARE_WITH_TIMEOUT(rig.model->pendingOrder(), std::optional<qint64>(5), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.desktop.opened, QList<QUrl>{QUrl(page)}, 20000);
        QCOMPARE(rig.service().requests("POST", "/api/v1/pay").first().json().toObject(),
                 (QJsonObject{{"plan", "m1"}, {"method", "sbp"}}));

        rig.service().enqueue("POST", "/api/v1/pay", refusal(402, "Оплата недоступна"));
        rig.pay("m1", "crypto");
        QTRY_COMPARE_WITH_TIMEOUT(rig.model->error(), std::optional<QString>("Оплата недоступна"), 20000);
        QCOMPARE(rig.model->pendingOrder(), std::optional<qint64>(5));
        QCOMPARE(rig.service().requests("POST", "/api/v1/pay").last().json()["method"].toString(), "crypto");

        QVERIFY(rig.shown("paymentWaiting"));
        QCOMPARE(rig.text("paymentWaitingTitle"), "Ждём оплату заказа № 5…");
        QTest::mouseClick(rig.find<QPushButton>("reopenPayment"), Qt::LeftButton);
        QCOMPARE(rig.desktop.opened, (QList<QUrl>{QUrl(page), QUrl(page)}));
        QTest::mouseClick(rig.find<QPushButton>("stopWaiting"), Qt::LeftButton);
        QCOMPARE(rig.model->pendingOrder(), std::nullopt);
        QVERIFY(!rig.shown("paymentWaiting"));
    }

    // ---- more: the header, the referral and promo cards, the switches, the help links and the
    // update card through a real (failing) installation
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
        QTest::addColumn<QString>("error"); // "" : none shown, the chosen mode holds; else the old one
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

    // Every wrapped text has the height its lines take at the width it got: a card grows with its
    // texts (the system-wide mode's long description once lost its first and last lines).
    void wrappedTextsFit() {
        MoreRig rig;
        rig.open();
        QApplication::processEvents();
        for (const QLabel* label : rig.view->findChildren<QLabel*>())
            if (label->isVisible() && label->wordWrap())
                QVERIFY2(label->height() >= label->heightForWidth(label->width()),
                         qPrintable(label->objectName() + ": " + label->text()));
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

    // Signed out, each screen shows its empty state; the device control starts at one.
    void screensWithoutAccount() {
        MoreRig rig;
        rig.serveAccount();
        rig.make();
        rig.show(makeDevicesScreen(rig.context(), nullptr));
        QCOMPARE(rig.find<ScreenHeader>({})->subtitle(), "занято 0 из 1");
        QVERIFY(rig.shown("devicesEmpty"));
        rig.show(makeTariffsScreen(rig.context(), nullptr));
        QCOMPARE(rig.find<Segmented>("devicesControl")->value(), 1);
        QVERIFY(rig.find<Segmented>("devicesControl")->segment(1)->isChecked());
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

QTEST_MAIN(AccountScreensTest)
#include "tst_account_screens.moc"
