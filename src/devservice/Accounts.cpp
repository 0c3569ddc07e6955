// Accounts: registration, e-mail sign-in, the account record, referral figures, devices.
#include "Scrypt.h"
#include "Service.h"

#include <QJsonArray>
#include <QSqlQuery>

namespace {

constexpr qint64 daysInvite = 3, daysPaid = 7, daysFriend = 3;

std::optional<QString> stringMember(const QJsonObject& json, const char* name) {
    const QJsonValue value = json.value(QLatin1String(name));
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

Service::Answer badField(const char* name) {
    return reply::error(400, QStringLiteral("Поле «%1» должно быть строкой").arg(QLatin1String(name)));
}

} // namespace

QString Service::issueToken(qint64 account) {
    const QByteArray token = secrets::randomBytes(32).toHex();
    m_db.run(QStringLiteral("INSERT INTO tokens (digest, account, created) VALUES (?, ?, ?)"),
             {secrets::tokenDigest(token), account, reply::now()});
    return QString::fromLatin1(token);
}

QString Service::unusedReferralCode() {
    static constexpr char alphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    for (;;) {
        QString code;
        for (const char byte : secrets::randomBytes(8))
            code += QLatin1Char(alphabet[quint8(byte) % 32]);
        if (!m_db.one(QStringLiteral("SELECT 1 FROM accounts WHERE referral = ?"), {code}))
            return code;
    }
}

qint64 Service::newAccount(const QVariant& email, const QVariant& telegram, const QByteArray& password) {
    const QByteArray salt = password.isNull() ? QByteArray() : secrets::randomBytes(16);
    const QVariant hash = password.isNull() ? QVariant(QMetaType(QMetaType::QByteArray))
                                            : QVariant(secrets::scrypt(password, salt));
    const QSqlQuery query = m_db.run(
        QStringLiteral("INSERT INTO accounts (email, telegram, salt, pwhash, referral, created) VALUES (?, "
                       "?, ?, ?, ?, ?)"),
        {email, telegram, salt.isNull() ? QVariant(QMetaType(QMetaType::QByteArray)) : QVariant(salt), hash,
         unusedReferralCode(), reply::now()});
    return query.lastInsertId().isValid() ? query.lastInsertId().toLongLong() : -1;
}

bool Service::expired(qint64 account) {
    const auto expire = m_db.one(QStringLiteral("SELECT expire_at FROM accounts WHERE id = ?"), {account});
    return !expire || expire->isNull() || expire->toLongLong() <= reply::now();
}

void Service::extend(qint64 account, qint64 days, std::optional<qint64> devices) {
    const auto expire = m_db.one(QStringLiteral("SELECT expire_at FROM accounts WHERE id = ?"), {account});
    const qint64 from = expired(account) ? reply::now() : expire->toLongLong();
    m_db.run(QStringLiteral("UPDATE accounts SET expire_at = ? WHERE id = ?"),
             {from + days * 86400, account});
    if (devices)
        m_db.run(QStringLiteral("UPDATE accounts SET devices_limit = MAX(devices_limit, ?) WHERE id = ?"),
                 {*devices, account});
}

void Service::seedDemoAccount(const QString& email, const QString& password) {
    auto id = m_db.one(QStringLiteral("SELECT id FROM accounts WHERE email = ?"), {email});
    const qint64 account =
        id ? id->toLongLong() : newAccount(email, QVariant(QMetaType(QMetaType::QString)), password.toUtf8());
    if (expired(account) ||
        m_db.one(QStringLiteral("SELECT expire_at FROM accounts WHERE id = ?"), {account})->toLongLong() <
            reply::now() + 29 * 86400)
        extend(account, 30, 3);
    m_db.run(QStringLiteral("UPDATE accounts SET devices_limit = MAX(devices_limit, 3) WHERE id = ?"),
             {account});
}

Service::Answer Service::registerAccount(const Call& call) {
    const auto email = stringMember(call.json, "email");
    const auto password = stringMember(call.json, "password");
    if (!email)
        return badField("email");
    if (!password)
        return badField("password");
    const QString address = email->trimmed().toLower();
    if (address.isEmpty() || !address.contains(u'@') || address.size() > 254)
        return reply::error(400, QStringLiteral("Введите адрес электронной почты"));
    if (password->size() < 8)
        return reply::error(400, QStringLiteral("Пароль должен быть не короче 8 символов"));
    if (password->toUtf8().size() > 1024)
        return reply::error(400, QStringLiteral("Слишком длинный пароль"));
    if (m_db.one(QStringLiteral("SELECT 1 FROM accounts WHERE email = ?"), {address}))
        return reply::error(409, QStringLiteral("Аккаунт с этой почтой уже есть. Войдите"));
    const qint64 account = newAccount(address, QVariant(QMetaType(QMetaType::QString)), password->toUtf8());
    if (account < 0)
        return reply::error(500, QStringLiteral("Не удалось создать аккаунт, попробуйте ещё раз"));
    return reply::json({{"token", issueToken(account)}});
}

Service::Answer Service::login(const Call& call) {
    const auto email = stringMember(call.json, "email");
    const auto password = stringMember(call.json, "password");
    if (!email)
        return badField("email");
    if (!password)
        return badField("password");
    QSqlQuery query = m_db.run(QStringLiteral("SELECT id, salt, pwhash FROM accounts WHERE email = ?"),
                               {email->trimmed().toLower()});
    const QString refusal = QStringLiteral("Неверная почта или пароль");
    if (!query.next() || query.value(1).isNull() || password->toUtf8().size() > 1024)
        return reply::error(401, refusal);
    if (!secrets::sameBytes(secrets::scrypt(password->toUtf8(), query.value(1).toByteArray()),
                            query.value(2).toByteArray()))
        return reply::error(401, refusal);
    return reply::json({{"token", issueToken(query.value(0).toLongLong())}});
}

Service::Answer Service::me(const Call& call) {
    QSqlQuery account = m_db.run(
        QStringLiteral(
            "SELECT email, telegram, expire_at, devices_limit, trial_used FROM accounts WHERE id = ?"),
        {*call.account});
    if (!account.next())
        return reply::error(401, QStringLiteral("Войдите в аккаунт заново"));
    QJsonArray devices;
    QSqlQuery bound = m_db.run(
        QStringLiteral("SELECT hwid, model, os, version FROM devices WHERE account = ? ORDER BY bound, hwid"),
        {*call.account});
    while (bound.next())
        devices << QJsonObject{{"hwid", bound.value(0).toString()},
                               {"model", bound.value(1).toString()},
                               {"os", bound.value(2).toString()},
                               {"version", bound.value(3).toString()}};
    QJsonObject record{{"active", !expired(*call.account)},
                       {"devices_limit", account.value(3).toLongLong()},
                       {"devices_used", qint64(devices.size())},
                       {"devices", devices},
                       {"trial_available", account.value(4).toLongLong() == 0},
                       {"promo_available", true},
                       {"support_url", origin() + QStringLiteral("/account")}};
    if (!account.value(0).isNull())
        record.insert("email", account.value(0).toString());
    if (!account.value(1).isNull())
        record.insert("telegram", account.value(1).toString());
    if (!account.value(2).isNull())
        record.insert("expire_at", reply::isoMoment(account.value(2).toLongLong()));
    return reply::json(record);
}

Service::Answer Service::referral(const Call& call) {
    const QString code =
        m_db.one(QStringLiteral("SELECT referral FROM accounts WHERE id = ?"), {*call.account})
            .value_or(QString())
            .toString();
    const qint64 invited =
        m_db.one(QStringLiteral("SELECT COUNT(*) FROM accounts WHERE referred_by = ?"), {*call.account})
            .value_or(0)
            .toLongLong();
    const qint64 paid =
        m_db.one(QStringLiteral(
                     "SELECT COUNT(DISTINCT o.account) FROM orders o JOIN accounts a ON a.id = o.account "
                     "WHERE a.referred_by = ? AND o.status = 'paid'"),
                 {*call.account})
            .value_or(0)
            .toLongLong();
    return reply::json({{"code", code},
                        {"link", origin() + QStringLiteral("/?ref=") + code},
                        {"invited", invited},
                        {"paid", paid},
                        {"days", invited * daysInvite + paid * daysPaid},
                        {"days_invite", daysInvite},
                        {"days_paid", daysPaid},
                        {"days_friend", daysFriend}});
}

Service::Answer Service::deleteDevice(const Call& call) {
    const auto hwid = stringMember(call.json, "hwid");
    if (!hwid)
        return badField("hwid");
    if (!m_db.one(QStringLiteral("SELECT 1 FROM devices WHERE account = ? AND hwid = ?"),
                  {*call.account, *hwid}))
        return reply::error(404, QStringLiteral("Это устройство уже отвязано"));
    m_db.run(QStringLiteral("DELETE FROM devices WHERE account = ? AND hwid = ?"), {*call.account, *hwid});
    return reply::json({{"ok", true}});
}
