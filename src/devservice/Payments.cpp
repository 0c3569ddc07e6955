// Subscription: catalogue, trial, promo codes, one-off payments, card subscriptions, checkout pages.
#include "Catalogue.h"
#include "Scrypt.h"
#include "Service.h"

#include <QSqlQuery>

namespace {

Service::Answer notFoundOrder() {
    return reply::error(404, QStringLiteral("Заказ не найден"));
}

} // namespace

Service::Answer Service::plans(const Call&) {
    return reply::json({{"plans", catalogue::plansJson()},
                        {"payments", true},
                        {"card", true},
                        {"stripe_tiers", catalogue::tiersJson()},
                        {"stripe_trial_days", catalogue::cardTrialDays}});
}

Service::Answer Service::trial(const Call& call) {
    if (m_db.one(QStringLiteral("SELECT trial_used FROM accounts WHERE id = ?"), {*call.account})
            .value_or(1)
            .toLongLong())
        return reply::error(409, QStringLiteral("Пробный период уже использован"));
    m_db.run(QStringLiteral("UPDATE accounts SET trial_used = 1 WHERE id = ?"), {*call.account});
    extend(*call.account, 1, 1);
    return reply::json({{"ok", true}});
}

Service::Answer Service::promo(const Call& call) {
    const QJsonValue value = call.json.value("code");
    if (!value.isString())
        return reply::error(400, QStringLiteral("Поле «code» должно быть строкой"));
    const QString code = value.toString().trimmed().toUpper();
    const auto days = m_db.one(QStringLiteral("SELECT days FROM promo_codes WHERE code = ?"), {code});
    if (!days)
        return reply::json({{"ok", false}, {"message", QStringLiteral("Такого промокода нет")}});
    if (m_db.one(QStringLiteral("SELECT 1 FROM promo_uses WHERE account = ? AND code = ?"),
                 {*call.account, code}))
        return reply::json({{"ok", false}, {"message", QStringLiteral("Вы уже использовали этот промокод")}});
    m_db.run(QStringLiteral("INSERT INTO promo_uses (account, code) VALUES (?, ?)"), {*call.account, code});
    extend(*call.account, days->toLongLong(), std::nullopt);
    return reply::json(
        {{"ok", true}, {"message", QStringLiteral("Промокод принят: +%1 дн.").arg(days->toLongLong())}});
}

Service::Answer Service::pay(const Call& call) {
    const QJsonValue planValue = call.json.value("plan"), methodValue = call.json.value("method");
    if (!planValue.isString() || !methodValue.isString())
        return reply::error(400, QStringLiteral("Поля «plan» и «method» должны быть строками"));
    const auto offer = catalogue::plan(planValue.toString());
    if (!offer)
        return reply::error(400, QStringLiteral("Такого тарифа нет"));
    const QString method = methodValue.toString();
    if (method != u"sbp" && method != u"crypto")
        return reply::error(400, QStringLiteral("Такого способа оплаты нет"));
    const QString key = QString::fromLatin1(secrets::randomBytes(16).toHex());
    const QString title = QStringLiteral("%1 дн., устройств: %2 (%3)")
                              .arg(offer->days)
                              .arg(offer->devices)
                              .arg(method == u"sbp" ? QStringLiteral("СБП") : QStringLiteral("криптовалюта"));
    const QSqlQuery query =
        m_db.run(QStringLiteral("INSERT INTO orders (account, kind, title, days, devices, amount, currency, "
                                "checkout, status, created) "
                                "VALUES (?, 'plan', ?, ?, ?, ?, 'RUB', ?, 'pending', ?)"),
                 {*call.account, title, offer->days, offer->devices, offer->price, key, reply::now()});
    if (!query.lastInsertId().isValid())
        return reply::error(500, QStringLiteral("Не удалось создать заказ, попробуйте ещё раз"));
    return reply::json({{"order_id", query.lastInsertId().toLongLong()},
                        {"amount", offer->price},
                        {"url", origin() + QStringLiteral("/checkout/") + key}});
}

Service::Answer Service::subscribeCard(const Call& call) {
    const QJsonValue devices = call.json.value("devices"), interval = call.json.value("interval");
    // A JSON integer only: 2.5 devices is not a tier.
    if (!devices.isDouble() || devices.toDouble() != double(devices.toInteger()) || !interval.isString())
        return reply::error(400,
                            QStringLiteral("Поле «devices» должно быть целым числом, «interval» — строкой"));
    const auto tier = catalogue::tier(devices.toInteger());
    if (!tier)
        return reply::error(400, QStringLiteral("Такого тарифа нет"));
    const bool yearly = interval.toString() == u"year";
    if (!yearly && interval.toString() != u"month")
        return reply::error(400, QStringLiteral("Период должен быть month или year"));
    const QString key = QString::fromLatin1(secrets::randomBytes(16).toHex());
    const qint64 cents = qint64(std::lround((yearly ? tier->yearly : tier->monthly) * 100));
    m_db.run(
        QStringLiteral(
            "INSERT INTO orders (account, kind, title, days, devices, amount, currency, checkout, status, "
            "created) VALUES (?, 'card', ?, ?, ?, ?, 'USD', ?, 'pending', ?)"),
        {*call.account,
         QStringLiteral("Подписка по карте: устройств %1, %2")
             .arg(tier->devices)
             .arg(yearly ? "год" : "месяц"),
         yearly ? 365 : 30, tier->devices, cents, key, reply::now()});
    return reply::json({{"url", origin() + QStringLiteral("/checkout/") + key}});
}

Service::Answer Service::payStatus(const Call& call, qint64 order) {
    const auto status = m_db.one(QStringLiteral("SELECT status FROM orders WHERE id = ? AND account = ?"),
                                 {order, *call.account});
    if (!status)
        return notFoundOrder();
    return reply::json({{"status", status->toString()}});
}

Service::Answer Service::checkoutPage(const QString& key) {
    QSqlQuery order = m_db.run(
        QStringLiteral("SELECT title, amount, currency, status FROM orders WHERE checkout = ?"), {key});
    if (!order.next())
        return reply::html(QStringLiteral("Заказ не найден"),
                           QStringLiteral("<p>Ссылка на оплату неверна.</p>"), 404);
    const QString amount = order.value(2).toString() == u"USD"
                               ? QStringLiteral("$%1").arg(order.value(1).toDouble() / 100, 0, 'f', 2)
                               : QStringLiteral("%1 ₽").arg(order.value(1).toLongLong());
    if (order.value(3).toString() == u"paid")
        return reply::html(QStringLiteral("Заказ оплачен"),
                           QStringLiteral("<p>%1 — %2. Оплата уже прошла, вернитесь в приложение.</p>")
                               .arg(order.value(0).toString().toHtmlEscaped(), amount.toHtmlEscaped()));
    return reply::html(QStringLiteral("Оплата заказа"),
                       QStringLiteral("<p>%1</p><p>К оплате: <b>%2</b></p>"
                                      "<form method=\"post\" action=\"/checkout/%3/pay\">"
                                      "<button type=\"submit\" name=\"pay\">Оплатить</button></form>"
                                      "<p><small>Тестовая касса: деньги не списываются.</small></p>")
                           .arg(order.value(0).toString().toHtmlEscaped(), amount.toHtmlEscaped(), key));
}

Service::Answer Service::checkoutPay(const QString& key) {
    QSqlQuery order = m_db.run(
        QStringLiteral("SELECT id, account, days, devices, status FROM orders WHERE checkout = ?"), {key});
    if (!order.next())
        return reply::html(QStringLiteral("Заказ не найден"),
                           QStringLiteral("<p>Ссылка на оплату неверна.</p>"), 404);
    // Paying twice (a reload of the page) extends once.
    if (order.value(4).toString() != u"paid") {
        m_db.transaction();
        m_db.run(QStringLiteral("UPDATE orders SET status = 'paid' WHERE id = ?"), {order.value(0)});
        extend(order.value(1).toLongLong(), order.value(2).toLongLong(), order.value(3).toLongLong());
        m_db.commit();
    }
    return reply::html(QStringLiteral("Оплата прошла"),
                       QStringLiteral("<p>Спасибо! Вернитесь в приложение.</p>"));
}
