// The subscription and payment flows: trial, promo code, unbinding, card checkout, one-off
// payment and its confirmation.

#include "ModelRig.h"

#include <QTest>

namespace {

ScriptedReply order(qint64 id, const QString& url = QStringLiteral("https://pay.example/1")) {
    return ok(QString(R"({"order_id":%1,"amount":299,"url":"%2"})").arg(id).arg(url));
}

ScriptedReply payStatus(const QString& status) {
    return ok(QString(R"({"status":"%1"})").arg(status));
}

// One action, the reply to its request, and what the user sees: the page opened, the message
// (which comes with a reload) or the error; empty for none.
struct Step {
    Step() = default;
    Step(QString action, ScriptedReply reply, QString opened = {}, QString message = {}, QString shown = {})
        : action(std::move(action)), reply(std::move(reply)), opened(std::move(opened)),
          message(std::move(message)), shown(std::move(shown)) {}

    QString action; // also its path
    ScriptedReply reply;
    QString opened, message, shown;
};

} // namespace

class SubscriptionTest : public QObject {
    Q_OBJECT

private slots:
    void actions_data() {
        QTest::addColumn<Step>("step");
        const auto checkout = [](const char* url) {
            return ok(QString(R"({"url":"%1"})").arg(url));
        };
        const auto row = [](const char* name, Step step) {
            QTest::newRow(name) << step;
        };
        const char* stripe = "https://checkout.stripe.com/c/s1";
        row("trial", {"trial", ScriptedReply::text(200, "not json"), {}, "Пробный доступ включён"});
        row("trial refused", {"trial", refusal(409, "Уже был"), {}, {}, "Уже был"});
        row("trial offline", {"trial", ScriptedReply::reset(), {}, {}, "Не удалось включить пробный день"});
        row("promo not ok still speaks and reloads",
            {"promo", ok(R"({"ok":false,"message":"Код истёк"})"), {}, "Код истёк"});
        row("unbind offline",
            {"devices/delete", ScriptedReply::reset(), {}, {}, "Не удалось отвязать устройство"});
        row("card checkout", {"subscribe/stripe", checkout(stripe), stripe});
        row("checkout in another program", {"subscribe/stripe", checkout("file:///x.desktop")});
        row("checkout refused", {"subscribe/stripe", refusal(400, "Недоступно"), {}, {}, "Недоступно"});
        row("checkout offline",
            {"subscribe/stripe", ScriptedReply::reset(), {}, {}, "Не удалось открыть оплату картой"});
        row("payment", {"pay", order(1234), "https://pay.example/1"});
        row("payment page not a URL", {"pay", order(1234, "bad url")});
        row("payment offline", {"pay", ScriptedReply::reset(), {}, {}, "Не удалось создать платёж"});
    }
    void actions() {
        QFETCH(Step, step);
        ModelRig rig;
        AppModel& model = rig.loaded();
        rig.service().on("POST", "/api/v1/" + step.action.toUtf8(), step.reply);
        QList<QUrl> pages;
        const AppModel::OpenUrl open = [&](QUrl url) {
            pages.append(url);
        };
        const QString& action = step.action;
        QVERIFY(rig.finish(action == "trial"              ? model.takeTrial()
                           : action == "promo"            ? model.applyPromo("CODE")
                           : action == "devices/delete"   ? model.unbind("hw-2")
                           : action == "subscribe/stripe" ? model.subscribeStripe(3, "year", open)
                                                          : model.pay("m1", "sbp", open)));
        QCOMPARE(pages, step.opened.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl(step.opened)});
        QCOMPARE(model.message(), maybe(step.message));
        QCOMPARE(model.error(), maybe(step.shown));
        // Only a message comes with a reload.
        QCOMPARE(rig.distinctCalls(),
                 QSet<QString>{action} + (step.message.isEmpty()
                                              ? QSet<QString>()
                                              : QSet<QString>(fullLoad.begin(), fullLoad.end())));
        // The order is kept even when its page cannot be opened.
        QCOMPARE(model.pendingOrder(),
                 action == "pay" && step.shown.isEmpty() ? std::optional<qint64>(1234) : std::nullopt);
        QVERIFY(!model.busy());
    }

    void unbindingClearsTheBannerBeforeTheReload() {
        ModelRig rig;
        rig.serveAccount();
        rig.service().on("GET", "/api/v1/configs", refusal(403, "Лимит устройств", "device_limit"));
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
    }

    void paymentConfirmation_data() {
        QTest::addColumn<QList<ScriptedReply>>("statuses"); // the last one repeats
        QTest::addColumn<int>("requests");
        QTest::addColumn<bool>("paid");
        QTest::newRow("paid on the third status")
            << QList<ScriptedReply>{payStatus("pending"), refusal(500, "Сбой"), payStatus("paid")} << 3
            << true;
        QTest::newRow("never paid") << QList<ScriptedReply>{payStatus("pending")} << 40 << false;
        QTest::newRow("\"Paid\" is not \"paid\"") << QList<ScriptedReply>{payStatus("Paid")} << 40 << false;
        QTest::newRow("service down") << QList<ScriptedReply>{ScriptedReply::empty(503)} << 40 << false;
    }
    void paymentConfirmation() {
        QFETCH(QList<ScriptedReply>, statuses);
        QFETCH(int, requests);
        QFETCH(bool, paid);
        ModelRig rig;
        AppModel& model = rig.loaded();
        QVERIFY(rig.finish(model.checkPayment())); // no order yet: no request
        QCOMPARE(rig.calls(), QStringList());
        rig.service().on("POST", "/api/v1/pay", order(77));
        QVERIFY(rig.finish(model.pay("m1", "sbp", {})));
        rig.service().clearRequests();
        for (const ScriptedReply& status : statuses.mid(0, statuses.size() - 1))
            rig.service().enqueue("GET", "/api/v1/pay/77", status);
        rig.service().on("GET", "/api/v1/pay/77", statuses.last());
        const auto start = rig.clock.elapsed();

        QVERIFY(rig.finish(model.checkPayment()));
        QCOMPARE(rig.calls(), QStringList(requests, "pay/77") + (paid ? fullLoad : QStringList()));
        if (paid)
            QCOMPARE(rig.clock.elapsed() - start, 6s);
        QCOMPARE(model.pendingOrder(), paid ? std::nullopt : std::optional<qint64>(77));
        QCOMPARE(model.message(), maybe(paid ? "Оплата прошла, подписка продлена" : ""));
        QVERIFY(!model.error() && !model.busy());
    }

    void aNewerOrderStaysPending() {
        ModelRig rig;
        AppModel& model = rig.loaded();
        rig.service().enqueue("POST", "/api/v1/pay", order(1));
        rig.service().enqueue("POST", "/api/v1/pay", order(2));
        QVERIFY(rig.finish(model.pay("m1", "sbp", {})));
        rig.service().enqueue("GET", "/api/v1/pay/1", payStatus("pending"));
        rig.service().on("GET", "/api/v1/pay/1", payStatus("paid"));
        const auto done = spawn(model.checkPayment());
        QVERIFY(drive([&] { return rig.count("pay/1") == 1; }));
        QVERIFY(rig.finish(model.pay("m1", "sbp", {}))); // a second payment meanwhile
        QVERIFY(drive([&] { return *done; }, &rig.clock));
        QCOMPARE(model.message(), QStringLiteral("Оплата прошла, подписка продлена"));
        QCOMPARE(model.pendingOrder(), 2);
    }
};

QTEST_GUILESS_MAIN(SubscriptionTest)
#include "tst_subscription.moc"
