// The tariffs screen over the real model: the device control, the plans it selects and their
// texts, the card-subscription section, and the payments both start.

#include "AccountRig.h"
#include "Card.h"
#include "Segmented.h"
#include "TariffsView.h"

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>

namespace {

QJsonObject plan(const QString& code, qint64 days, qint64 devices, qint64 price) {
    return {{"code", code}, {"days", days}, {"devices", devices}, {"price", price}};
}

QJsonObject catalogue(const QJsonArray& plans, bool card = false, const QJsonArray& tiers = {},
                      qint64 trial = 0) {
    return {{"plans", plans},
            {"payments", true},
            {"card", card},
            {"stripe_tiers", tiers},
            {"stripe_trial_days", trial}};
}

QJsonObject tier(qint64 devices, double monthly, double yearly) {
    return {{"devices", devices}, {"monthly", monthly}, {"yearly", yearly}};
}

ScriptedReply order(qint64 id, const QString& page) {
    return ScriptedReply::json(200, QJsonObject{{"order_id", id}, {"amount", 299}, {"url", page}});
}

struct TariffsRig : AccountRig {
    TariffsView& tariffs(const QJsonObject& plans, qint64 limit = 3) {
        signedIn({{"devices_limit", limit}}, plans);
        show(makeTariffsScreen(context(), nullptr));
        return *static_cast<TariffsView*>(view.get());
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

    void plansSortedByDaysStably() {
        TariffsRig rig;
        rig.tariffs(catalogue({plan("p30a", 30, 3, 299), plan("p90", 90, 3, 700), plan("two", 7, 2, 50),
                               plan("p7", 7, 3, 90), plan("p30b", 30, 3, 280)}));
        QCOMPARE(rig.planCodes(), (QStringList{"p7", "p30a", "p30b", "p90"}));
        rig.choose(5);
        QCOMPARE(rig.planCodes(), QStringList());
        QVERIFY(rig.shown("plansFootnote"));
        QCOMPARE(rig.find<QLabel>("plansFootnote")->text(),
                 "Дни прибавляются к текущей подписке, автосписаний нет.");
    }

    void planTexts_data() {
        QTest::addColumn<qint64>("days");
        QTest::addColumn<qint64>("price");
        QTest::addColumn<QString>("term");
        QTest::addColumn<QString>("priceLine");
        QTest::newRow("30 at 299") << qint64(30) << qint64(299) << "30 дней"
                                   << "299 ₽ · 299 ₽ за месяц";
        QTest::newRow("90 at 1000") << qint64(90) << qint64(1000) << "90 дней"
                                    << "1000 ₽ · 333 ₽ за месяц";
        QTest::newRow("365 at 2990") << qint64(365) << qint64(2990) << "365 дней"
                                     << "2990 ₽ · 245 ₽ за месяц";
        QTest::newRow("1") << qint64(1) << qint64(10) << "1 день"
                           << "10 ₽ · 300 ₽ за месяц";
        QTest::newRow("2") << qint64(2) << qint64(10) << "2 дня"
                           << "10 ₽ · 150 ₽ за месяц";
        QTest::newRow("5") << qint64(5) << qint64(10) << "5 дней"
                           << "10 ₽ · 60 ₽ за месяц";
        QTest::newRow("11") << qint64(11) << qint64(10) << "11 дней"
                            << "10 ₽ · 27 ₽ за месяц";
        QTest::newRow("21") << qint64(21) << qint64(10) << "21 день"
                            << "10 ₽ · 14 ₽ за месяц";
        QTest::newRow("22") << qint64(22) << qint64(10) << "22 дня"
                            << "10 ₽ · 13 ₽ за месяц";
        QTest::newRow("111") << qint64(111) << qint64(10) << "111 дней"
                             << "10 ₽ · 2 ₽ за месяц";
        QTest::newRow("112") << qint64(112) << qint64(10) << "112 дней"
                             << "10 ₽ · 2 ₽ за месяц";
        QTest::newRow("0 days") << qint64(0) << qint64(10) << "0 дней"
                                << "10 ₽";
    }
    void planTexts() {
        QFETCH(qint64, days);
        QFETCH(qint64, price);
        QFETCH(QString, term);
        QFETCH(QString, priceLine);
        TariffsRig rig;
        rig.tariffs(catalogue({plan("x", days, 3, price)}));
        QCOMPARE(rig.label("plan_x", "planTerm"), term);
        QCOMPARE(rig.label("plan_x", "planPrice"), priceLine);
    }

    void cardSection_data() {
        QTest::addColumn<bool>("card");
        QTest::addColumn<bool>("tiers");
        QTest::addColumn<bool>("shown");
        QTest::newRow("card and tiers") << true << true << true;
        QTest::newRow("card, no tiers") << true << false << false;
        QTest::newRow("tiers, no card") << false << true << false;
    }
    void cardSection() {
        QFETCH(bool, card);
        QFETCH(bool, tiers);
        QFETCH(bool, shown);
        TariffsRig rig;
        rig.tariffs(
            catalogue({plan("a", 30, 3, 299)}, card, tiers ? QJsonArray{tier(3, 4.5, 48)} : QJsonArray{}));
        QCOMPARE(rig.shown("stripeSection"), shown);
        QCOMPARE(rig.shown("oneOffCaption"), shown);
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
        QStringList order;
        for (Card* card : rig.view->findChildren<Card*>())
            if (card->objectName().startsWith("tier_"))
                order.append(rig.label(card->objectName(), "tierDevices"));
        QCOMPARE(order, (QStringList{"1 устройство", "3 устройства", "5 устройств"}));
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
        const QJsonValue sent = rig.service().requests("POST", "/api/v1/subscribe/stripe").first().json();
        QCOMPARE(sent["interval"].toString(), "year");
        QCOMPARE(sent["devices"].toInteger(), 3);
    }

    // A payment remembers its order and opens its page; a refused one keeps the order before it;
    // a page that is no URL opens nothing but still keeps the order.
    void payMenu() {
        TariffsRig rig;
        const QString page = "https://pay.example/5";
        rig.tariffs(catalogue({plan("m1", 30, 3, 299)}));
        rig.service().enqueue("POST", "/api/v1/pay", order(5, page));
        rig.pay("m1", "sbp");
        QTRY_COMPARE_WITH_TIMEOUT(rig.model->pendingOrder(), std::optional<qint64>(5), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.model->busy(), 20000);
        QCOMPARE(rig.desktop.opened, QList<QUrl>{QUrl(page)});
        const QJsonValue sent = rig.service().requests("POST", "/api/v1/pay").first().json();
        QCOMPARE(sent["plan"].toString(), "m1");
        QCOMPARE(sent["method"].toString(), "sbp");

        rig.service().enqueue("POST", "/api/v1/pay", refusal(402, "Оплата недоступна"));
        rig.pay("m1", "crypto");
        QTRY_COMPARE_WITH_TIMEOUT(rig.model->error(), std::optional<QString>("Оплата недоступна"), 20000);
        QCOMPARE(rig.model->pendingOrder(), std::optional<qint64>(5));
        QCOMPARE(rig.service().requests("POST", "/api/v1/pay").last().json()["method"].toString(), "crypto");

        rig.service().enqueue("POST", "/api/v1/pay", order(9, "not a url"));
        rig.pay("m1", "sbp");
        QTRY_COMPARE_WITH_TIMEOUT(rig.model->pendingOrder(), std::optional<qint64>(9), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.model->busy(), 20000);
        QCOMPARE(rig.desktop.opened.size(), 1);
    }
};

QTEST_MAIN(TariffsViewTest)
#include "tst_tariffs_view.moc"
