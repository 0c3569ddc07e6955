// Telegram sign-in: the service's own confirmation page stands in for the bot.
#include "Scrypt.h"
#include "Service.h"

#include <QSqlQuery>
#include <QUrlQuery>

Service::Answer Service::tgStart(const Call&) {
    const QString key = QString::fromLatin1(secrets::randomBytes(16).toHex());
    m_db.run(QStringLiteral("DELETE FROM tg_keys WHERE created < ?"), {reply::now() - telegramKeySeconds});
    m_db.run(QStringLiteral("INSERT INTO tg_keys (key, created) VALUES (?, ?)"), {key, reply::now()});
    return reply::json({{"key", key}, {"url", origin() + QStringLiteral("/tg/") + key}});
}

Service::Answer Service::tgPoll(const Call& call) {
    const QString key = call.request.query().queryItemValue(QStringLiteral("key"), QUrl::FullyDecoded);
    QSqlQuery row = m_db.run(QStringLiteral("SELECT created, account FROM tg_keys WHERE key = ?"), {key});
    if (!row.next())
        return reply::error(404, QStringLiteral("Ссылка для входа не найдена"));
    if (row.value(0).toLongLong() + telegramKeySeconds < reply::now())
        return reply::error(410, QStringLiteral("Ссылка для входа устарела"));
    if (row.value(1).isNull())
        return {204, {}};
    // A confirmed key gives its token once.
    m_db.run(QStringLiteral("DELETE FROM tg_keys WHERE key = ?"), {key});
    return reply::json({{"token", issueToken(row.value(1).toLongLong())}});
}

Service::Answer Service::tgPage(const QString& key) {
    if (!m_db.one(QStringLiteral("SELECT 1 FROM tg_keys WHERE key = ? AND created >= ?"),
                  {key, reply::now() - telegramKeySeconds}))
        return reply::html(QStringLiteral("Ссылка устарела"),
                           QStringLiteral("<p>Начните вход через Telegram в приложении заново.</p>"), 410);
    return reply::html(
        QStringLiteral("Вход через Telegram"),
        QStringLiteral("<p>Здесь вместо бота: подтвердите вход в приложение Вемко VPN.</p>"
                       "<form method=\"post\" action=\"/tg/%1/confirm\">"
                       "<p><label>Имя в Telegram <input name=\"telegram\" value=\"@vemko_demo\"></label></p>"
                       "<button type=\"submit\">Подтвердить вход</button></form>")
            .arg(key));
}

Service::Answer Service::tgConfirm(const Call& call, const QString& key) {
    if (!m_db.one(QStringLiteral("SELECT 1 FROM tg_keys WHERE key = ? AND created >= ?"),
                  {key, reply::now() - telegramKeySeconds}))
        return reply::html(QStringLiteral("Ссылка устарела"),
                           QStringLiteral("<p>Начните вход через Telegram в приложении заново.</p>"), 410);
    const QUrlQuery form(QString::fromUtf8(call.request.body()));
    QString telegram = form.queryItemValue(QStringLiteral("telegram"), QUrl::FullyDecoded).trimmed().left(64);
    if (telegram.isEmpty())
        telegram = QStringLiteral("@vemko_demo");
    const auto existing = m_db.one(QStringLiteral("SELECT id FROM accounts WHERE telegram = ?"), {telegram});
    const qint64 account = existing
                               ? existing->toLongLong()
                               : newAccount(QVariant(QMetaType(QMetaType::QString)), telegram, QByteArray());
    m_db.run(QStringLiteral("UPDATE tg_keys SET account = ? WHERE key = ?"), {account, key});
    return reply::html(QStringLiteral("Вход подтверждён"), QStringLiteral("<p>Вернитесь в приложение.</p>"));
}
