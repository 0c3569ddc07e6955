// The subscription and payment flows of AppModel: trial, promo code, unbinding a device, the card
// subscription checkout, the one-off payment and its confirmation.

#include "model/AppModel.h"
#include "model/OpenableUrl.h"
#include "platform/Clock.h"
#include "service/Api.h"

#include <QPointer>
#include <chrono>

using namespace std::chrono_literals;

namespace {

namespace text {
const QString trialFailed = QStringLiteral("Не удалось включить пробный день");
const QString trialOn = QStringLiteral("Пробный доступ включён");
const QString promoFailed = QStringLiteral("Промокод не сработал");
const QString unbindFailed = QStringLiteral("Не удалось отвязать устройство");
const QString unbound = QStringLiteral("Устройство отвязано");
const QString stripeFailed = QStringLiteral("Не удалось открыть оплату картой");
const QString payFailed = QStringLiteral("Не удалось создать платёж");
const QString paid = QStringLiteral("Оплата прошла, подписка продлена");
} // namespace text

const QString paidStatus = QStringLiteral("paid");

// About two minutes of polling after the user comes back from the payment page; the next
// activation polls the same order again.
constexpr int paymentChecks = 40;
constexpr auto paymentCheckInterval = 3s;

} // namespace

QCoro::Task<> AppModel::takeTrial() {
    Action action = [this] {
        return trialBody();
    };
    co_await run(text::trialFailed, std::move(action));
}

QCoro::Task<> AppModel::trialBody() {
    const QPointer<AppModel> self(this);
    co_await m_api.trial();
    if (!self)
        co_return;
    setMessage(text::trialOn);
    co_await load();
}

QCoro::Task<> AppModel::applyPromo(QString code) {
    Action action = [this, code] {
        return promoBody(code);
    };
    co_await run(text::promoFailed, std::move(action));
}

QCoro::Task<> AppModel::promoBody(QString code) {
    const QPointer<AppModel> self(this);
    const PromoResp reply = co_await m_api.promo(code);
    if (!self)
        co_return;
    // The service words both outcomes itself, so its text is the toast whatever `ok` says.
    setMessage(reply.message);
    co_await load();
}

QCoro::Task<> AppModel::unbind(QString hwid) {
    Action action = [this, hwid] {
        return unbindBody(hwid);
    };
    co_await run(text::unbindFailed, std::move(action));
}

QCoro::Task<> AppModel::unbindBody(QString hwid) {
    const QPointer<AppModel> self(this);
    co_await m_api.deleteDevice(hwid);
    if (!self)
        co_return;
    setMessage(text::unbound);
    // The banner goes at once, before the reload says whether the limit still holds.
    setDeviceLimit(false);
    co_await load();
}

QCoro::Task<> AppModel::subscribeStripe(qint64 devices, QString interval, OpenUrl open) {
    Action action = [this, devices, interval, open] {
        return stripeBody(devices, interval, open);
    };
    co_await run(text::stripeFailed, std::move(action));
}

QCoro::Task<> AppModel::stripeBody(qint64 devices, QString interval, OpenUrl open) {
    const StripeUrl checkout = co_await m_api.subscribeStripe(devices, interval);
    // The service confirms the subscription later; the next load shows it.
    if (const auto url = openableUrl(checkout.url); url && open)
        open(*url);
}

QCoro::Task<> AppModel::pay(QString plan, QString method, OpenUrl open) {
    Action action = [this, plan, method, open] {
        return payBody(plan, method, open);
    };
    co_await run(text::payFailed, std::move(action));
}

QCoro::Task<> AppModel::payBody(QString plan, QString method, OpenUrl open) {
    const QPointer<AppModel> self(this);
    const PayResp order = co_await m_api.pay(plan, method);
    if (!self)
        co_return;
    m_paymentPage = openableUrl(order.url);
    setPendingOrder(order.order_id);
    if (m_paymentPage && open)
        open(*m_paymentPage);
}

void AppModel::stopWaitingForPayment() {
    setPendingOrder(std::nullopt);
}

QCoro::Task<> AppModel::watchPayment(std::function<bool()> watching) {
    if (m_watchingPayment)
        co_return;
    const QPointer<AppModel> self(this);
    m_watchingPayment = true;
    while (self && m_pendingOrder && watching())
        co_await checkPayment();
    if (self)
        m_watchingPayment = false;
}

QCoro::Task<> AppModel::checkPayment() {
    const QPointer<AppModel> self(this);
    if (!m_pendingOrder)
        co_return;
    const qint64 order = *m_pendingOrder;

    for (int attempt = 0; attempt < paymentChecks; ++attempt) {
        bool confirmed = false;
        try {
            confirmed = (co_await m_api.payStatus(order)).status == paidStatus;
        } catch (...) {
            // A failed request is an unpaid attempt: nothing is ever shown from here.
        }
        if (!self)
            co_return;
        if (confirmed) {
            // A newer order placed meanwhile stays pending.
            if (m_pendingOrder == order)
                setPendingOrder(std::nullopt);
            setMessage(text::paid);
            co_await load();
            co_return;
        }
        try {
            co_await m_clock.sleep(paymentCheckInterval);
        } catch (...) {
        }
        // Nothing pending any more: the user stopped waiting, or a payment was confirmed meanwhile.
        if (!self || !m_pendingOrder)
            co_return;
    }
}
