// Servers and facts: the configs document, the exit address, the exit lookup, the version, the account page.
#include "Scrypt.h"
#include "Service.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSqlQuery>
#include <QUrlQuery>

Service::Answer Service::configs(const Call& call, bool deviceAllowed) {
    if (!deviceAllowed)
        return reply::error(
            403, QStringLiteral("Достигнут лимит устройств. Отвяжите одно из устройств в аккаунте"),
            QStringLiteral("device_limit"));
    if (expired(*call.account))
        return reply::error(402, QStringLiteral("Подписка не активна"), QStringLiteral("inactive"));
    return {200, QJsonDocument(m_servers.configs()).toJson(QJsonDocument::Compact)};
}

Service::Answer Service::exitAddress(const Call& call) {
    QHostAddress from = call.request.remoteAddress();
    bool v4 = false;
    const QHostAddress plain(from.toIPv4Address(&v4));
    return reply::json({{"exit", (v4 ? plain : from).toString()}});
}

Service::Answer Service::ipInfo(const Call& call) {
    QHostAddress from = call.request.remoteAddress();
    bool v4 = false;
    const QHostAddress plain(from.toIPv4Address(&v4));
    return reply::json({{"ip", (v4 ? plain : from).toString()}, {"city", m_servers.cityOf(from)}});
}

Service::Answer Service::appVersion(const Call&) {
    // The operator edits version.json in the data folder; a first start writes the running build.
    const QString path = QDir(m_dataFolder).filePath(QStringLiteral("version.json"));
    if (!QFile::exists(path)) {
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(
                QJsonDocument(QJsonObject{{"version_code", 1},
                                          {"version_name", "1.0.0"},
                                          {"url", origin() + QStringLiteral("/download/vemko-vpn.zip")},
                                          {"notes", ""}})
                    .toJson());
            file.commit();
        }
    }
    QFile file(path);
    const QJsonObject version =
        file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
    const QJsonValue code = version.value("version_code");
    if (!code.isDouble() || code.toDouble() != double(code.toInteger()) ||
        !version.value("version_name").isString() || !version.value("url").isString() ||
        !version.value("notes").isString())
        return reply::error(
            500, QStringLiteral("Файл версии повреждён: нужны version_code, version_name, url, notes"));
    return reply::json(version);
}

Service::Answer Service::accountPage(const Call& call) {
    std::optional<qint64> account = bearerAccount(call.request);
    if (!account && call.request.method() == QHttpServerRequest::Method::Post) {
        const QUrlQuery form(QString::fromUtf8(call.request.body()));
        const QString email =
            form.queryItemValue(QStringLiteral("email"), QUrl::FullyDecoded).trimmed().toLower();
        const QByteArray password =
            form.queryItemValue(QStringLiteral("password"), QUrl::FullyDecoded).toUtf8();
        QSqlQuery row =
            m_db.run(QStringLiteral("SELECT id, salt, pwhash FROM accounts WHERE email = ?"), {email});
        if (row.next() && !row.value(1).isNull() && password.size() <= 1024 &&
            secrets::sameBytes(secrets::scrypt(password, row.value(1).toByteArray()),
                               row.value(2).toByteArray()))
            account = row.value(0).toLongLong();
    }
    if (!account)
        return reply::html(
            QStringLiteral("Аккаунт"),
            QStringLiteral("<form method=\"post\" action=\"/account\">"
                           "<p><label>Почта <input name=\"email\"></label></p>"
                           "<p><label>Пароль <input name=\"password\" type=\"password\"></label></p>"
                           "<button type=\"submit\">Войти</button></form>"),
            call.request.method() == QHttpServerRequest::Method::Post ? 401 : 200);
    QSqlQuery row =
        m_db.run(QStringLiteral(
                     "SELECT COALESCE(email, telegram), expire_at, devices_limit FROM accounts WHERE id = ?"),
                 {*account});
    row.next();
    const QString expiry = row.value(1).isNull() ? QStringLiteral("нет подписки")
                                                 : QDateTime::fromSecsSinceEpoch(row.value(1).toLongLong())
                                                       .toString(QStringLiteral("dd.MM.yyyy HH:mm"));
    QString body =
        QStringLiteral("<table><tr><td>Аккаунт</td><td>%1</td></tr><tr><td>Подписка до</td><td>%2</td></tr>"
                       "<tr><td>Устройств</td><td>не больше %3</td></tr></table><h2>Устройства</h2><ul>")
            .arg(row.value(0).toString().toHtmlEscaped(), expiry.toHtmlEscaped(), row.value(2).toString());
    QSqlQuery devices = m_db.run(
        QStringLiteral("SELECT model, os, hwid FROM devices WHERE account = ? ORDER BY bound"), {*account});
    while (devices.next())
        body +=
            QStringLiteral("<li>%1, %2 <small>%3</small></li>")
                .arg(devices.value(0).toString().toHtmlEscaped(), devices.value(1).toString().toHtmlEscaped(),
                     devices.value(2).toString().toHtmlEscaped());
    body += QStringLiteral("</ul><h2>Заказы</h2><ul>");
    QSqlQuery orders = m_db.run(
        QStringLiteral("SELECT id, title, status FROM orders WHERE account = ? ORDER BY id"), {*account});
    while (orders.next())
        body += QStringLiteral("<li>№%1: %2 — %3</li>")
                    .arg(orders.value(0).toString(), orders.value(1).toString().toHtmlEscaped(),
                         orders.value(2).toString() == u"paid" ? QStringLiteral("оплачен")
                                                               : QStringLiteral("ожидает оплаты"));
    return reply::html(QStringLiteral("Аккаунт"), body + QStringLiteral("</ul>"));
}
