// The tariffs screen over the real model: the device control, the plans it selects and their
// texts, the card-subscription section, and the payments both start.

#include "AccountRig.h"
#include "Card.h"
#include "Segmented.h"

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>

namespace {

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

} // namespace

class TariffsViewTest : public QObject {
    Q_OBJECT
private slots:
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

    void withoutAccountStartsAtOne() {
        TariffsRig rig;
        rig.serveAccount();
        rig.make();
        rig.show(makeTariffsScreen(rig.context(), nullptr));
        QCOMPARE(rig.find<Segmented>("devicesControl")->value(), 1);
        QCOMPARE(rig.find<Segmented>("devicesControl")->segment(1)->isChecked(), true);
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
};

QTEST_MAIN(TariffsViewTest)
#include "tst_tariffs_view.moc"
