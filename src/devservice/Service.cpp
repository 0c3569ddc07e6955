#include "Service.h"

#include "Scrypt.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSqlQuery>

namespace reply {

Service::Answer json(const QJsonObject& object, int status) {
    return {status, QJsonDocument(object).toJson(QJsonDocument::Compact)};
}

Service::Answer error(int status, const QString& text, const QString& code) {
    QJsonObject object{{"error", text}};
    if (!code.isEmpty())
        object.insert("code", code);
    return json(object, status);
}

Service::Answer html(const QString& title, const QString& bodyHtml, int status) {
    const QString page =
        QStringLiteral("<!doctype html><html lang=\"ru\"><head><meta charset=\"utf-8\"><title>%1</title>"
                       "<style>body{font-family:sans-serif;max-width:40em;margin:3em auto;padding:0 1em}"
                       "button{font-size:1.1em;padding:.5em 1.5em}td{padding:.2em 1em .2em 0}</style>"
                       "</head><body><h1>%1</h1>%2</body></html>")
            .arg(title.toHtmlEscaped(), bodyHtml);
    return {status, page.toUtf8(), "text/html; charset=utf-8"};
}

QString isoMoment(qint64 secondsSinceEpoch) {
    return QDateTime::fromSecsSinceEpoch(secondsSinceEpoch, Qt::UTC).toString(Qt::ISODate);
}

qint64 now() {
    return QDateTime::currentSecsSinceEpoch();
}

} // namespace reply

Service::Service(Database& db, const DemoServers& servers, QString dataFolder)
    : m_db(db), m_servers(servers), m_dataFolder(std::move(dataFolder)) {}

quint16 Service::start(quint16 port) {
    const quint16 bound = listen(QHostAddress::LocalHost, port);
    m_origin = QStringLiteral("http://127.0.0.1:%1").arg(bound);
    return bound;
}

bool Service::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    const Answer answer = dispatch(request);
    QHttpServerResponder responder = makeResponder(request, socket);
    const auto status = QHttpServerResponder::StatusCode(answer.status);
    if (answer.status == 204)
        responder.write(status);
    else
        responder.write(answer.body, answer.type, status);
    return true;
}

void Service::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    const Answer answer = reply::error(404, QStringLiteral("Нет такого адреса"));
    makeResponder(request, socket)
        .write(answer.body, answer.type, QHttpServerResponder::StatusCode::NotFound);
}

std::optional<qint64> Service::bearerAccount(const QHttpServerRequest& request) {
    const QByteArray header = request.value("Authorization");
    if (!header.startsWith("Bearer ") || header.size() > 512)
        return std::nullopt;
    const auto account = m_db.one(QStringLiteral("SELECT account FROM tokens WHERE digest = ?"),
                                  {secrets::tokenDigest(header.mid(7).trimmed())});
    if (!account)
        return std::nullopt;
    return account->toLongLong();
}

bool Service::bindDevice(qint64 account, const QHttpServerRequest& request) {
    // Header values are stored as text: anything that is not UTF-8 is replaced, never kept raw.
    const auto header = [&](const char* name) {
        return QString::fromUtf8(request.value(name)).left(200);
    };
    const QString hwid = header("X-Hwid");
    if (hwid.isEmpty())
        return false;
    QSqlQuery known =
        m_db.run(QStringLiteral("SELECT model, os, version FROM devices WHERE account = ? AND hwid = ?"),
                 {account, hwid});
    if (known.next()) {
        const QString model = header("X-Device-Model"), os = header("X-Device-Os"),
                      version = header("X-Ver-Os");
        if (known.value(0).toString() != model || known.value(1).toString() != os ||
            known.value(2).toString() != version)
            m_db.run(QStringLiteral(
                         "UPDATE devices SET model = ?, os = ?, version = ? WHERE account = ? AND hwid = ?"),
                     {model, os, version, account, hwid});
        return true;
    }
    const qint64 used = m_db.one(QStringLiteral("SELECT COUNT(*) FROM devices WHERE account = ?"), {account})
                            .value_or(0)
                            .toLongLong();
    const qint64 limit =
        m_db.one(QStringLiteral("SELECT devices_limit FROM accounts WHERE id = ?"), {account})
            .value_or(0)
            .toLongLong();
    if (used >= limit)
        return false;
    m_db.run(
        QStringLiteral(
            "INSERT INTO devices (account, hwid, model, os, version, bound) VALUES (?, ?, ?, ?, ?, ?)"),
        {account, hwid, header("X-Device-Model"), header("X-Device-Os"), header("X-Ver-Os"), reply::now()});
    return true;
}

Service::Answer Service::dispatch(const QHttpServerRequest& request) {
    using Method = QHttpServerRequest::Method;
    using Handler = Answer (Service::*)(const Call&);
    struct Route {
        Method method;
        const char* path;
        bool authorised;
        bool takesJson;
        Handler handler;
    };
    static const Route routes[] = {
        {Method::Post, "/api/v1/auth/login", false, true, &Service::login},
        {Method::Post, "/api/v1/auth/register", false, true, &Service::registerAccount},
        {Method::Post, "/api/v1/auth/tg/start", false, false, &Service::tgStart},
        {Method::Get, "/api/v1/auth/tg/poll", false, false, &Service::tgPoll},
        {Method::Get, "/api/v1/me", true, false, &Service::me},
        {Method::Get, "/api/v1/plans", false, false, &Service::plans},
        {Method::Get, "/api/v1/referral", true, false, &Service::referral},
        {Method::Post, "/api/v1/trial", true, false, &Service::trial},
        {Method::Post, "/api/v1/promo", true, true, &Service::promo},
        {Method::Post, "/api/v1/devices/delete", true, true, &Service::deleteDevice},
        {Method::Post, "/api/v1/pay", true, true, &Service::pay},
        {Method::Post, "/api/v1/subscribe/stripe", true, true, &Service::subscribeCard},
        {Method::Get, "/api/v1/app/version", false, false, &Service::appVersion},
        {Method::Get, "/api/v1/ip", false, false, &Service::exitAddress},
        {Method::Get, "/ipinfo/json", false, false, &Service::ipInfo},
        {Method::Get, "/account", false, false, &Service::accountPage},
        {Method::Post, "/account", false, false, &Service::accountPage},
    };

    if (request.body().size() > maxBody)
        return reply::error(413, QStringLiteral("Слишком большой запрос"));
    const QString path = request.url().path(QUrl::FullyDecoded);
    const Method method = request.method();
    Call call{request, path, {}, std::nullopt};

    static const QRegularExpression payPath(QStringLiteral("^/api/v1/pay/(-?[0-9]{1,18})$"));
    static const QRegularExpression pagePath(
        QStringLiteral("^/(checkout|tg)/([0-9a-f]{32})(/pay|/confirm)?$"));
    if (const auto match = payPath.match(path); match.hasMatch()) {
        if (method != Method::Get)
            return reply::error(405, QStringLiteral("Метод не поддерживается"));
        call.account = bearerAccount(request);
        if (!call.account)
            return reply::error(401, QStringLiteral("Войдите в аккаунт заново"));
        bindDevice(*call.account, request);
        return payStatus(call, match.captured(1).toLongLong());
    }
    if (const auto match = pagePath.match(path); match.hasMatch()) {
        const QString kind = match.captured(1), key = match.captured(2), action = match.captured(3);
        if (kind == u"checkout" && action.isEmpty() && method == Method::Get)
            return checkoutPage(key);
        if (kind == u"checkout" && action == u"/pay" && method == Method::Post)
            return checkoutPay(key);
        if (kind == u"tg" && action.isEmpty() && method == Method::Get)
            return tgPage(key);
        if (kind == u"tg" && action == u"/confirm" && method == Method::Post)
            return tgConfirm(call, key);
        return reply::error(405, QStringLiteral("Метод не поддерживается"));
    }
    // Update archives the operator puts in <data>/download/, for the version file's "url".
    static const QRegularExpression downloadPath(
        QStringLiteral("^/download/([A-Za-z0-9][A-Za-z0-9._-]{0,127})$"));
    if (const auto match = downloadPath.match(path); match.hasMatch() && method == Method::Get) {
        QFile file(QDir(m_dataFolder).filePath(QStringLiteral("download/") + match.captured(1)));
        if (!file.open(QIODevice::ReadOnly))
            return reply::error(404, QStringLiteral("Нет такого файла"));
        return {200, file.readAll(), "application/zip"};
    }
    if (path == u"/" && method == Method::Get)
        return reply::html(QStringLiteral("Вемко VPN: тестовый сервис"),
                           QStringLiteral("<p>Сервис для разработки. <a href=\"/account\">Аккаунт</a></p>"));

    bool pathKnown = false;
    for (const Route& route : routes) {
        if (path != QLatin1String(route.path))
            continue;
        pathKnown = true;
        if (method != route.method)
            continue;
        if (route.takesJson) {
            QJsonParseError parse{};
            const QJsonDocument document = QJsonDocument::fromJson(request.body(), &parse);
            if (parse.error != QJsonParseError::NoError || !document.isObject())
                return reply::error(400, QStringLiteral("Тело запроса должно быть JSON-объектом"));
            call.json = document.object();
        }
        if (route.authorised) {
            call.account = bearerAccount(request);
            if (!call.account)
                return reply::error(401, QStringLiteral("Войдите в аккаунт заново"));
            bindDevice(*call.account, request);
        }
        return (this->*route.handler)(call);
    }
    if (path == u"/api/v1/configs") {
        if (method != Method::Get)
            return reply::error(405, QStringLiteral("Метод не поддерживается"));
        call.account = bearerAccount(request);
        if (!call.account)
            return reply::error(401, QStringLiteral("Войдите в аккаунт заново"));
        return configs(call, bindDevice(*call.account, request));
    }
    if (pathKnown)
        return reply::error(405, QStringLiteral("Метод не поддерживается"));
    return reply::error(404, QStringLiteral("Нет такого адреса"));
}
