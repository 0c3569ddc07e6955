// The subscription and payment flows: trial, promo code, unbinding, card checkout, one-off
// payment and its confirmation.

#include "ModelRig.h"

#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

namespace {

ScriptedReply payStatus(const QString& status) {
    return ScriptedReply::json(200, QJsonObject{{"status", status}});
}

// A signed-in model with its first load done.
AppModel& signedInModel(ModelRig& rig) {
    rig.serveAccount();
    AppModel& model = rig.make();
    rig.api.signIn();
    rig.finish(model.load());
    rig.service().clearRequests();
    return model;
}

} // namespace

class SubscriptionTest : public QObject {
    Q_OBJECT

private slots:
    // --- trial, promo, unbinding ---

    void trialConfirmsAndReloads() {
        ModelRig rig;
        AppModel& model = signedInModel(rig);
        rig.service().on("POST", "/api/v1/trial", ScriptedReply::text(200, "not json"));
        QVERIFY(rig.finish(model.takeTrial()));
        QCOMPARE(model.message(), QStringLiteral("Пробный доступ включён"));
        QCOMPARE(rig.calls(), QStringList({"trial", "me", "referral", "plans", "configs", "app/version"}));
        QVERIFY(!model.busy() && !model.error());
    }

    void trialFailures_data() {
        QTest::addColumn<ScriptedReply>("reply");
        QTest::addColumn<QString>("shown");
        QTest::newRow("refusal") << replies::refusal(409, "Пробный день уже был") << "Пробный день уже был";
        QTest::newRow("transport") << ScriptedReply::reset() << "Не удалось включить пробный день";
    }
    void trialFailures() {
        QFETCH(ScriptedReply, reply);
        QFETCH(QString, shown);
        ModelRig rig;
        AppModel& model = signedInModel(rig);
        rig.service().on("POST", "/api/v1/trial", reply);
        QVERIFY(rig.finish(model.takeTrial()));
        QCOMPARE(model.error(), shown);
        QVERIFY(!model.message() && !model.busy());
        QCOMPARE(rig.distinctCalls(), QSet<QString>({"trial"}));
    }

    void promoShowsTheServiceTextEvenWhenRefused() {
        ModelRig rig;
        AppModel& model = signedInModel(rig);
        rig.service().on("POST", "/api/v1/promo",
                         ScriptedReply::json(200, QJsonObject{{"ok", false}, {"message", "Код истёк"}}));
        QVERIFY(rig.finish(model.applyPromo(" SPRING ")));
        QCOMPARE(rig.service().requests("POST", "/api/v1/promo")[0].json()["code"].toString(),
                 QStringLiteral(" SPRING "));
        QCOMPARE(model.message(), QStringLiteral("Код истёк"));
        QVERIFY(!model.error());
        QCOMPARE(rig.count("me"), 1); // reloaded all the same
    }

    void unbindingClearsTheBannerBeforeTheReload() {
        ModelRig rig;
        rig.serveAccount();
        rig.service().on("GET", "/api/v1/configs", replies::refusal(403, "Лимит устройств", "device_limit"));
        AppModel& model = rig.make();
        rig.api.signIn();
        QVERIFY(rig.finish(model.load()));
        QVERIFY(model.deviceLimit());
        rig.service().clearRequests();

        rig.service().on("POST", "/api/v1/devices/delete", ScriptedReply::empty(200));
        rig.service().on("GET", "/api/v1/me", ScriptedReply::reset()); // the reload fails
        std::optional<QStringList> callsWhenCleared;
        connect(&model, &AppModel::deviceLimitChanged, this, [&] { callsWhenCleared = rig.calls(); });
        QVERIFY(rig.finish(model.unbind("hw-2")));
        QCOMPARE(rig.service().requests("POST", "/api/v1/devices/delete")[0].json()["hwid"].toString(),
                 QStringLiteral("hw-2"));
        QVERIFY(!model.deviceLimit());
        QCOMPARE(callsWhenCleared, QStringList({"devices/delete"}));
        QVERIFY(rig.calls().contains("me"));
        QCOMPARE(model.message(), QStringLiteral("Устройство отвязано"));
        QVERIFY(!model.busy());
    }

    // --- card subscription and one-off payment ---

    void cardCheckoutOpensThePageAndNothingElse() {
        ModelRig rig;
        AppModel& model = signedInModel(rig);
        rig.service().on("POST", "/api/v1/subscribe/stripe",
                         ScriptedReply::json(200, QJsonObject{{"url", "https://checkout.stripe.com/c/s1"}}));
        QList<QUrl> opened;
        QVERIFY(rig.finish(model.subscribeStripe(3, "year", [&](QUrl url) { opened.append(url); })));
        const auto request = rig.service().requests("POST", "/api/v1/subscribe/stripe")[0].json();
        QCOMPARE(request["devices"].toInteger(), 3);
        QCOMPARE(request["interval"].toString(), QStringLiteral("year"));
        QCOMPARE(opened, QList<QUrl>({QUrl("https://checkout.stripe.com/c/s1")}));
        QCOMPARE(rig.calls(), QStringList({"subscribe/stripe"})); // confirmed later, by a load
        QVERIFY(!model.message() && !model.error() && !model.busy());
    }

    void cardCheckoutFailures_data() {
        QTest::addColumn<ScriptedReply>("reply");
        QTest::addColumn<QString>("shown"); // empty: no error
        QTest::newRow("not a URL") << ScriptedReply::json(200, QJsonObject{{"url", "::::"}}) << "";
        QTest::newRow("another program's scheme")
            << ScriptedReply::json(200, QJsonObject{{"url", "file:///home/user/run.desktop"}}) << "";
        QTest::newRow("refusal") << replies::refusal(400, "Недоступно в вашей стране")
                                 << "Недоступно в вашей стране";
        QTest::newRow("transport") << ScriptedReply::reset() << "Не удалось открыть оплату картой";
    }
    void cardCheckoutFailures() {
        QFETCH(ScriptedReply, reply);
        QFETCH(QString, shown);
        ModelRig rig;
        AppModel& model = signedInModel(rig);
        rig.service().on("POST", "/api/v1/subscribe/stripe", reply);
        bool opened = false;
        QVERIFY(rig.finish(model.subscribeStripe(1, "month", [&](QUrl) { opened = true; })));
        QVERIFY(!opened && !model.busy());
        QCOMPARE(model.error(), shown.isEmpty() ? std::nullopt : std::optional<QString>(shown));
    }

    void paymentRemembersItsOrder() {
        ModelRig rig;
        AppModel& model = signedInModel(rig);
        rig.service().on(
            "POST", "/api/v1/pay",
            ScriptedReply::json(200, QJsonObject{{"order_id", 1234}, {"amount", 299}, {"url", "bad url"}}));
        bool opened = false;
        QVERIFY(rig.finish(model.pay("m1", "sbp", [&](QUrl) { opened = true; })));
        QCOMPARE(model.pendingOrder(), 1234);
        QVERIFY(!opened); // the order is kept all the same
        const auto request = rig.service().requests("POST", "/api/v1/pay")[0].json();
        QCOMPARE(request["plan"].toString(), QStringLiteral("m1"));
        QCOMPARE(request["method"].toString(), QStringLiteral("sbp"));

        rig.service().on("POST", "/api/v1/pay", ScriptedReply::reset());
        QVERIFY(rig.finish(model.pay("m1", "crypto", [&](QUrl) { opened = true; })));
        QCOMPARE(model.error(), QStringLiteral("Не удалось создать платёж"));
        QCOMPARE(model.pendingOrder(), 1234);
        QVERIFY(!model.busy());
    }

    // --- payment confirmation ---

    void noPendingOrderMakesNoRequest() {
        ModelRig rig;
        AppModel& model = signedInModel(rig);
        QVERIFY(rig.finish(model.checkPayment()));
        QCOMPARE(rig.calls(), QStringList());
    }

    void paidOnTheThirdStatus() {
        ModelRig rig;
        AppModel& model = signedInModel(rig);
        rig.service().on(
            "POST", "/api/v1/pay",
            ScriptedReply::json(
                200, QJsonObject{{"order_id", 77}, {"amount", 299}, {"url", "https://pay.example/77"}}));
        QVERIFY(rig.finish(model.pay("m1", "sbp", [](QUrl) {})));
        rig.service().clearRequests();
        rig.service().enqueue("GET", "/api/v1/pay/77", payStatus("pending"));
        rig.service().enqueue("GET", "/api/v1/pay/77", replies::refusal(500, "Сбой")); // counts as unpaid
        rig.service().enqueue("GET", "/api/v1/pay/77", payStatus("paid"));
        QSignalSpy busy(&model, &AppModel::busyChanged);
        const auto start = rig.clock.elapsed();

        QVERIFY(rig.finish(model.checkPayment()));
        QCOMPARE(rig.clock.elapsed() - start, 6s);
        QCOMPARE(rig.count("pay/77"), 3);
        QVERIFY(!model.pendingOrder());
        QCOMPARE(model.message(), QStringLiteral("Оплата прошла, подписка продлена"));
        QCOMPARE(rig.calls().mid(3), QStringList({"me", "referral", "plans", "configs", "app/version"}));
        QVERIFY(!model.error());
        QCOMPARE(busy.count(), 0);
    }

    void neverPaidGivesUpAfter40Requests_data() {
        QTest::addColumn<ScriptedReply>("reply");
        QTest::newRow("pending") << payStatus("pending");
        QTest::newRow("other case") << payStatus("Paid");
        QTest::newRow("service down") << ScriptedReply::empty(503);
    }
    void neverPaidGivesUpAfter40Requests() {
        QFETCH(ScriptedReply, reply);
        ModelRig rig;
        AppModel& model = signedInModel(rig);
        rig.service().on(
            "POST", "/api/v1/pay",
            ScriptedReply::json(
                200, QJsonObject{{"order_id", 5}, {"amount", 1}, {"url", "https://pay.example/5"}}));
        QVERIFY(rig.finish(model.pay("m1", "sbp", [](QUrl) {})));
        rig.service().clearRequests();
        rig.service().on("GET", "/api/v1/pay/5", reply);
        QVERIFY(rig.finish(model.checkPayment()));
        QCOMPARE(rig.calls(), QStringList(40, "pay/5"));
        QCOMPARE(model.pendingOrder(), 5);
        QVERIFY(!model.message() && !model.error());
    }

    void aNewerOrderStaysPending() {
        ModelRig rig;
        AppModel& model = signedInModel(rig);
        rig.service().enqueue(
            "POST", "/api/v1/pay",
            ScriptedReply::json(200, QJsonObject{{"order_id", 1}, {"amount", 1}, {"url", "https://p/1"}}));
        rig.service().enqueue(
            "POST", "/api/v1/pay",
            ScriptedReply::json(200, QJsonObject{{"order_id", 2}, {"amount", 1}, {"url", "https://p/2"}}));
        QVERIFY(rig.finish(model.pay("m1", "sbp", [](QUrl) {})));
        rig.service().enqueue("GET", "/api/v1/pay/1", payStatus("pending"));
        rig.service().on("GET", "/api/v1/pay/1", payStatus("paid"));
        bool done = false;
        startMainTask([](QCoro::Task<> task, bool& flag) -> QCoro::Task<> {
            co_await std::move(task);
            flag = true;
        }(model.checkPayment(), done));
        QVERIFY(drive([&] { return rig.count("pay/1") == 1; }));
        QVERIFY(rig.finish(model.pay("m1", "sbp", [](QUrl) {}))); // a second payment meanwhile
        QVERIFY(drive([&] { return done; }, &rig.clock));
        QCOMPARE(model.message(), QStringLiteral("Оплата прошла, подписка продлена"));
        QCOMPARE(model.pendingOrder(), 2);
    }
};

QTEST_GUILESS_MAIN(SubscriptionTest)
#include "tst_subscription.moc"
