// Signing in and the account: login, signup, telegram, link, account, trial, promo, devices, unbind.

#include "cli/Cli.h"
#include "cli/Console.h"
#include "device/Store.h"
#include "format/Format.h"
#include "model/AppModel.h"
#include "model/SignInLink.h"

#include <QJsonArray>

namespace {

QString accountName(const Me& me) {
    if (me.email && !me.email->isEmpty())
        return *me.email;
    if (me.telegram && !me.telegram->isEmpty())
        return QStringLiteral("Telegram ") + *me.telegram;
    return QStringLiteral("без имени");
}

QJsonValue optionalText(const std::optional<QString>& text) {
    return text ? QJsonValue(*text) : QJsonValue(QJsonValue::Null);
}

} // namespace

QCoro::Task<int> Cli::signInWithPassword(const Invocation& in, bool create) {
    const QString email = in.words.first();
    const std::optional<QString> password = m_console.secret(QStringLiteral("Пароль: "));
    if (!password)
        co_return fail(in, QStringLiteral("Пароль не введён"));
    if (password->isEmpty())
        co_return fail(in, QStringLiteral("Пароль пустой"));
    m_c.model.clearNotices();
    const QString secret = *password;
    const Flow flow = [this, create, email, secret] {
        return create ? m_c.model.signUp(email, secret) : m_c.model.signIn(email, secret);
    };
    const bool ok =
        co_await action(flow, create ? QStringLiteral("Создаю аккаунт…") : QStringLiteral("Вхожу…"));
    if (!ok)
        co_return fail(in, m_c.model.error().value_or(QString()));
    const auto me = m_c.model.me();
    QJsonObject facts{{"signed_in", true},
                      {"email", me ? optionalText(me->email) : QJsonValue(email.trimmed())}};
    co_return report(
        in, true, facts,
        {create ? QStringLiteral("Аккаунт создан, вход выполнен") : QStringLiteral("Вход выполнен")},
        m_c.model.error());
}

QCoro::Task<int> Cli::telegram(const Invocation& in) {
    m_c.model.clearNotices();
    std::optional<QUrl> bot;
    AppModel::OpenUrl open = [this, &bot](QUrl url) {
        bot = url;
        offerLink(url, QStringLiteral("Откройте бота"));
    };
    const Flow flow = [this, open] {
        return m_c.model.signInWithTelegram(open);
    };
    const bool ok = co_await action(flow, QStringLiteral("Жду подтверждения в Telegram…"));
    QJsonObject facts{{"url", bot ? QJsonValue(bot->toString()) : QJsonValue(QJsonValue::Null)}};
    if (!ok)
        co_return fail(in, m_c.model.error().value_or(QString()), facts);
    const auto me = m_c.model.me();
    facts.insert(QStringLiteral("signed_in"), true);
    facts.insert(QStringLiteral("telegram"), me ? optionalText(me->telegram) : QJsonValue(QJsonValue::Null));
    co_return report(in, true, facts, {m_c.model.message().value_or(QStringLiteral("Вход выполнен"))},
                     m_c.model.error());
}

QCoro::Task<int> Cli::link(const Invocation& in) {
    std::optional<QString> text;
    if (in.words.isEmpty())
        text = m_console.secret(QStringLiteral("Ссылка входа: "));
    else
        text = in.words.first();
    const auto token = text ? signInLinkToken(text->trimmed()) : std::nullopt;
    if (!token) {
        stopProgress();
        m_console.err(QStringLiteral("vemkoctl: это не ссылка входа vemko://auth?token=…"));
        co_return exitcode::usage;
    }
    m_c.model.clearNotices();
    const Flow flow = [this, value = *token] {
        return m_c.model.signInWithToken(value);
    };
    const bool ok = co_await action(flow, QStringLiteral("Вхожу…"));
    if (!ok)
        co_return fail(in, m_c.model.error().value_or(QString()));
    const auto me = m_c.model.me();
    QJsonObject facts{{"signed_in", true},
                      {"email", me ? optionalText(me->email) : QJsonValue(QJsonValue::Null)}};
    co_return report(in, true, facts, {m_c.model.message().value_or(QStringLiteral("Вход выполнен"))},
                     m_c.model.error());
}

QCoro::Task<int> Cli::account(const Invocation& in) {
    if (const auto problem = needsAccount())
        co_return fail(in, *problem);
    startProgress(QStringLiteral("Загружаю аккаунт…"));
    co_await refresh();
    const auto me = m_c.model.me();
    if (!me)
        co_return fail(in, m_c.model.error().value_or(
                               QStringLiteral("Не удалось загрузить аккаунт: нет связи с сервисом")));
    const QString left = humanLeft(me->expire_at, m_c.clock);
    QJsonObject facts{
        {"email", optionalText(me->email)},
        {"telegram", optionalText(me->telegram)},
        {"active", me->active},
        {"expire_at", optionalText(me->expire_at)},
        {"expire", formatExpire(me->expire_at)},
        {"left", left},
        {"days_left", daysLeft(me->expire_at, m_c.clock)},
        {"devices_used", me->devices_used},
        {"devices_limit", me->devices_limit},
        {"trial_available", me->trial_available},
        {"promo_available", me->promo_available},
    };
    QStringList lines{QStringLiteral("Аккаунт: ") + accountName(*me)};
    if (me->active)
        lines.append(
            QStringLiteral("Подписка: активна до %1, осталось %2").arg(formatExpire(me->expire_at), left));
    else
        lines.append(QStringLiteral("Подписка: не активна (%1)").arg(left));
    lines.append(QStringLiteral("Устройства: %1 из %2").arg(me->devices_used).arg(me->devices_limit));
    if (me->trial_available)
        lines.append(QStringLiteral("Доступен пробный день: vemkoctl trial"));
    co_return report(in, true, facts, lines, m_c.model.error());
}

QCoro::Task<int> Cli::trial(const Invocation& in) {
    if (const auto problem = needsAccount())
        co_return fail(in, *problem);
    m_c.model.clearNotices();
    const Flow flow = [this] {
        return m_c.model.takeTrial();
    };
    if (!co_await action(flow, QStringLiteral("Включаю пробный доступ…")))
        co_return fail(in, m_c.model.error().value_or(QString()));
    const QString message = m_c.model.message().value_or(QString());
    co_return report(in, true, {{"message", message}}, {message});
}

QCoro::Task<int> Cli::promo(const Invocation& in) {
    if (const auto problem = needsAccount())
        co_return fail(in, *problem);
    m_c.model.clearNotices();
    const Flow flow = [this, code = in.words.first()] {
        return m_c.model.applyPromo(code);
    };
    if (!co_await action(flow, QStringLiteral("Применяю промокод…")))
        co_return fail(in, m_c.model.error().value_or(QString()));
    const QString message = m_c.model.message().value_or(QString());
    co_return report(in, true, {{"message", message}}, {message});
}

QCoro::Task<int> Cli::devices(const Invocation& in) {
    if (const auto problem = needsAccount())
        co_return fail(in, *problem);
    startProgress(QStringLiteral("Загружаю устройства…"));
    co_await refresh();
    const auto me = m_c.model.me();
    if (!me)
        co_return fail(in, m_c.model.error().value_or(
                               QStringLiteral("Не удалось загрузить аккаунт: нет связи с сервисом")));
    const QString ours = m_c.store.hwid();
    QJsonArray list;
    QStringList lines;
    for (const Device& device : me->devices) {
        const bool self = device.hwid == ours;
        list.append(QJsonObject{{"hwid", optionalText(device.hwid)},
                                {"model", optionalText(device.model)},
                                {"os", optionalText(device.os)},
                                {"version", optionalText(device.version)},
                                {"this", self}});
        QStringList about;
        for (const auto& part : {device.model, device.os, device.version})
            if (part && !part->isEmpty())
                about.append(*part);
        lines.append(QStringLiteral("%1 %2  %3%4")
                         .arg(self ? QStringLiteral("✓") : QStringLiteral(" "),
                              device.hwid.value_or(QStringLiteral("?")), about.join(QStringLiteral(" · ")),
                              self ? QStringLiteral(" (этот компьютер)") : QString()));
    }
    lines.append(QStringLiteral("Занято %1 из %2").arg(me->devices_used).arg(me->devices_limit));
    QJsonObject facts{{"devices", list},
                      {"devices_used", me->devices_used},
                      {"devices_limit", me->devices_limit},
                      {"this_hwid", ours}};
    co_return report(in, true, facts, lines, m_c.model.error());
}

QCoro::Task<int> Cli::unbind(const Invocation& in) {
    if (const auto problem = needsAccount())
        co_return fail(in, *problem);
    const QString hwid = in.thisDevice ? m_c.store.hwid() : in.words.first();
    m_c.model.clearNotices();
    const Flow flow = [this, hwid] {
        return m_c.model.unbind(hwid);
    };
    if (!co_await action(flow, QStringLiteral("Отвязываю устройство…")))
        co_return fail(in, m_c.model.error().value_or(QString()), {{"hwid", hwid}});
    const QString message = m_c.model.message().value_or(QString());
    co_return report(in, true, {{"hwid", hwid}, {"message", message}}, {message});
}
