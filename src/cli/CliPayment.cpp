// Tariffs, payments and updates: plans, pay, subscribe, update check|install.

#include "cli/Cli.h"
#include "cli/Console.h"
#include "device/Store.h"
#include "model/AppModel.h"
#include "model/Tariffs.h"
#include "update/Updater.h"

#include <QJsonArray>

QCoro::Task<int> Cli::plans(const Invocation& in) {
    if (const auto problem = needsAccount())
        co_return fail(in, *problem);
    startProgress(QStringLiteral("Загружаю тарифы…"));
    co_await refresh();
    const auto me = m_c.model.me();
    // As the tariffs screen opens: at the account's device limit, else one device.
    const qint64 devices = in.devices.value_or(me ? std::clamp<qint64>(me->devices_limit, 1, 10) : 1);

    QJsonArray plans;
    QStringList lines;
    for (const Plan& plan : plansForDevices(m_c.model.plans(), devices)) {
        const auto monthly = monthlyEquivalent(plan);
        plans.append(QJsonObject{{"code", plan.code},
                                 {"days", plan.days},
                                 {"devices", plan.devices},
                                 {"price", plan.price},
                                 {"monthly", monthly ? QJsonValue(*monthly) : QJsonValue()}});
        lines.append(QStringLiteral("%1  %2  %3").arg(plan.code, planTerm(plan), planPriceLine(plan)));
    }
    if (lines.isEmpty())
        lines.append(QStringLiteral("Разовых тарифов на %1 нет").arg(devices));

    QJsonArray tiers;
    const bool card = m_c.model.card() && !m_c.model.stripeTiers().isEmpty();
    if (card) {
        lines.append(QStringLiteral("Подписка картой (vemkoctl subscribe УСТРОЙСТВА month|year):"));
        for (const StripeTier& tier : sortedTiers(m_c.model.stripeTiers())) {
            tiers.append(
                QJsonObject{{"devices", tier.devices}, {"monthly", tier.monthly}, {"yearly", tier.yearly}});
            lines.append(QStringLiteral("  %1: %2; %3")
                             .arg(tierDevices(tier), tierPriceLine(tier, false), tierPriceLine(tier, true)));
        }
        if (m_c.model.stripeTrial() > 0)
            lines.append(
                QStringLiteral("  %1 дня бесплатно, списание только после них").arg(m_c.model.stripeTrial()));
    }
    QJsonObject facts{{"devices", devices},
                      {"plans", plans},
                      {"card", card},
                      {"card_tiers", tiers},
                      {"card_trial_days", m_c.model.stripeTrial()}};
    co_return report(in, true, facts, lines, m_c.model.error());
}

QCoro::Task<int> Cli::pay(const Invocation& in) {
    if (const auto problem = needsAccount())
        co_return fail(in, *problem);
    const QString code = in.words[0];
    const QString method = in.words[1];
    startProgress(QStringLiteral("Загружаю тарифы…"));
    co_await refresh();
    QStringList codes;
    bool known = false;
    for (const Plan& plan : m_c.model.plans()) {
        codes.append(plan.code);
        known = known || plan.code == code;
    }
    if (!known)
        co_return fail(
            in, QStringLiteral("Нет тарифа «%1». Тарифы: %2 (vemkoctl plans)")
                    .arg(code, codes.isEmpty() ? QStringLiteral("нет") : codes.join(QStringLiteral(", "))));

    m_c.model.clearNotices();
    std::optional<QUrl> page;
    AppModel::OpenUrl open = [this, &page](QUrl url) {
        page = url;
        offerLink(url, QStringLiteral("Страница оплаты"));
    };
    const Flow flow = [this, code, method, open] {
        return m_c.model.pay(code, method, open);
    };
    if (!co_await action(flow, QStringLiteral("Создаю платёж…")))
        co_return fail(in, m_c.model.error().value_or(QString()));
    const auto order = m_c.model.pendingOrder();
    QJsonObject facts{{"plan", code},
                      {"method", method},
                      {"order_id", order ? QJsonValue(*order) : QJsonValue()},
                      {"url", page ? QJsonValue(page->toString()) : QJsonValue()}};
    if (!page) {
        facts.insert(QStringLiteral("paid"), false);
        co_return fail(in, QStringLiteral("Сервис не прислал страницу оплаты"), facts);
    }

    startProgress(QStringLiteral("Жду подтверждения оплаты…"));
    co_await m_c.model.checkPayment();
    stopProgress();
    const bool paid = m_c.model.pendingOrder() != order;
    facts.insert(QStringLiteral("paid"), paid);
    if (!paid)
        co_return fail(
            in,
            QStringLiteral("Оплата пока не подтверждена (заказ %1). Проверьте позже: vemkoctl account")
                .arg(order.value_or(0)),
            facts);
    co_return report(in, true, facts, {m_c.model.message().value_or(QString())}, m_c.model.error());
}

QCoro::Task<int> Cli::subscribe(const Invocation& in) {
    if (const auto problem = needsAccount())
        co_return fail(in, *problem);
    const qint64 devices = in.words[0].toLongLong();
    const QString interval = in.words[1];
    m_c.model.clearNotices();
    std::optional<QUrl> page;
    AppModel::OpenUrl open = [this, &page](QUrl url) {
        page = url;
        offerLink(url, QStringLiteral("Оформление подписки"));
    };
    const Flow flow = [this, devices, interval, open] {
        return m_c.model.subscribeStripe(devices, interval, open);
    };
    if (!co_await action(flow, QStringLiteral("Открываю оплату картой…")))
        co_return fail(in, m_c.model.error().value_or(QString()));
    QJsonObject facts{{"devices", devices},
                      {"interval", interval},
                      {"url", page ? QJsonValue(page->toString()) : QJsonValue()}};
    if (!page)
        co_return fail(in, QStringLiteral("Сервис не прислал страницу оплаты"), facts);
    co_return report(in, true, facts, {QStringLiteral("Подписка оформится после оплаты на странице")});
}

QCoro::Task<int> Cli::update(const Invocation& in) {
    Updater& updater = m_c.updater;
    std::optional<QString> checkFailure;
    const auto watch = QObject::connect(&updater, &Updater::checkFailed, this,
                                        [&checkFailure](const QString& why) { checkFailure = why; });
    startProgress(QStringLiteral("Проверяю обновление…"));
    co_await updater.check(false);
    stopProgress();
    QObject::disconnect(watch);

    const qint64 build = m_c.store.appBuild();
    QJsonObject facts{{"version", m_c.store.appVersion()}, {"build", build}};
    if (checkFailure)
        co_return fail(in, QStringLiteral("Не удалось проверить обновление: ") + *checkFailure, facts);
    const auto available = updater.available();
    if (available)
        facts.insert(QStringLiteral("available"), QJsonObject{{"version_code", available->version_code},
                                                              {"version_name", available->version_name},
                                                              {"notes", available->notes}});
    else
        facts.insert(QStringLiteral("available"), QJsonValue());

    if (!available)
        co_return report(in, true, facts,
                         {QStringLiteral("Установлена последняя версия %1 (сборка %2)")
                              .arg(m_c.store.appVersion())
                              .arg(build)});
    QStringList lines{QStringLiteral("Доступна версия %1 (сборка %2)")
                          .arg(available->version_name)
                          .arg(available->version_code)};
    if (!available->notes.isEmpty())
        lines.append(available->notes);
    if (in.words.first() == QLatin1String("check")) {
        lines.append(QStringLiteral("Установить: vemkoctl update install"));
        co_return report(in, true, facts, lines);
    }

    if (updater.packageManaged()) { // the package manager installs it, not we
        facts.insert(QStringLiteral("installed"), false);
        co_return fail(in, Updater::packageManagedText(), facts);
    }
    const auto shown = QObject::connect(&updater, &Updater::progressChanged, this, [this, &updater] {
        if (updater.progress() >= 0)
            startProgress(QStringLiteral("Обновление: %1%").arg(updater.progress()));
    });
    co_await updater.install();
    QObject::disconnect(shown);
    stopProgress();
    facts.insert(QStringLiteral("installed"), !updater.message().has_value());
    if (const auto failure = updater.message())
        co_return fail(in, *failure, facts);
    lines.append(QStringLiteral("Обновление установлено: приложение перезапустится"));
    co_return report(in, true, facts, lines);
}
