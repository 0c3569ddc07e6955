#include "service/Api.h"

#include "device/Store.h"
#include "service/JsonFields.h"
#include "service/Transport.h"

#include <QStringDecoder>

namespace {

template <typename T> T decoded(const QByteArray& body) {
    return T::decode(JsonFields::root(body));
}

Call get(QString path, bool token) {
    return Call{"GET", std::move(path), token, std::nullopt};
}

Call post(QString path, bool token, std::optional<QJsonObject> body = std::nullopt) {
    return Call{"POST", std::move(path), token, std::move(body)};
}

// Built outside the coroutines: gcc 12 miscompiles braced JSON initialisers inside them.
QJsonObject fields(const char* key, const QJsonValue& value) {
    QJsonObject object;
    object.insert(QLatin1String(key), value);
    return object;
}

QJsonObject fields(const char* key1, const QJsonValue& value1, const char* key2, const QJsonValue& value2) {
    auto object = fields(key1, value1);
    object.insert(QLatin1String(key2), value2);
    return object;
}

} // namespace

QString Api::defaultOrigin() {
    auto origin = qEnvironmentVariable("VEMKO_API_ORIGIN");
    while (origin.endsWith(QLatin1Char('/')))
        origin.chop(1);
    return origin.isEmpty() ? QStringLiteral("https://vemko.app") : origin;
}

Api::Api(QNetworkAccessManager& network, const Store& store, const Keychain& keychain, QString origin)
    : m_network(network), m_store(store), m_keychain(keychain), m_origin(std::move(origin)) {}

Transport Api::transport() const {
    return Transport{&m_network, &m_store, &m_keychain, m_origin};
}

QCoro::Task<QString> Api::login(QString email, QString password) {
    const auto body = co_await send(transport(), post(QStringLiteral("/api/v1/auth/login"), false,
                                                      fields("email", email, "password", password)));
    co_return decoded<TokenResp>(body).token;
}

QCoro::Task<QString> Api::registerAccount(QString email, QString password) {
    const auto body = co_await send(transport(), post(QStringLiteral("/api/v1/auth/register"), false,
                                                      fields("email", email, "password", password)));
    co_return decoded<TokenResp>(body).token;
}

QCoro::Task<TgStart> Api::tgStart() {
    co_return decoded<TgStart>(
        co_await send(transport(), post(QStringLiteral("/api/v1/auth/tg/start"), false)));
}

QCoro::Task<std::optional<QString>> Api::tgPoll(QString key) {
    // Judged here: any refusal means the sign-in link is no longer good, whatever the body says.
    const auto reply =
        co_await exchange(transport(), get(QStringLiteral("/api/v1/auth/tg/poll?key=") + key, false));
    if (reply.status == 204)
        co_return std::nullopt;
    if (reply.status < 200 || reply.status > 299)
        throw ApiError(reply.status, QStringLiteral("Ссылка для входа устарела"));
    co_return decoded<TokenResp>(reply.body).token;
}

QCoro::Task<Me> Api::me() {
    co_return decoded<Me>(co_await send(transport(), get(QStringLiteral("/api/v1/me"), true)));
}

QCoro::Task<Plans> Api::plans() {
    co_return decoded<Plans>(co_await send(transport(), get(QStringLiteral("/api/v1/plans"), false)));
}

QCoro::Task<Referral> Api::referral() {
    co_return decoded<Referral>(co_await send(transport(), get(QStringLiteral("/api/v1/referral"), true)));
}

QCoro::Task<> Api::trial() {
    co_await send(transport(), post(QStringLiteral("/api/v1/trial"), true));
}

QCoro::Task<PromoResp> Api::promo(QString code) {
    co_return decoded<PromoResp>(
        co_await send(transport(), post(QStringLiteral("/api/v1/promo"), true, fields("code", code))));
}

QCoro::Task<> Api::deleteDevice(QString hwid) {
    co_await send(transport(), post(QStringLiteral("/api/v1/devices/delete"), true, fields("hwid", hwid)));
}

QCoro::Task<PayResp> Api::pay(QString plan, QString method) {
    co_return decoded<PayResp>(co_await send(
        transport(), post(QStringLiteral("/api/v1/pay"), true, fields("plan", plan, "method", method))));
}

QCoro::Task<StripeUrl> Api::subscribeStripe(qint64 devices, QString interval) {
    co_return decoded<StripeUrl>(
        co_await send(transport(), post(QStringLiteral("/api/v1/subscribe/stripe"), true,
                                        fields("devices", devices, "interval", interval))));
}

QCoro::Task<PayStatus> Api::payStatus(qint64 orderId) {
    co_return decoded<PayStatus>(
        co_await send(transport(), get(QStringLiteral("/api/v1/pay/") + QString::number(orderId), true)));
}

QCoro::Task<AppVersion> Api::appVersion() {
    co_return decoded<AppVersion>(co_await send(
        transport(), get(QStringLiteral("/api/v1/app/version?platform=") + m_store.platformQuery(), false)));
}

QCoro::Task<QString> Api::configs() {
    Call call = get(QStringLiteral("/api/v1/configs"), true);
    call.replyLimit = qint64{32} << 20; // every server of the subscription, with its settings
    const auto body = co_await send(transport(), std::move(call));
    // Kept exactly as sent (a leading byte-order mark included); bytes that are not UTF-8 read as
    // an empty server list.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(body);
    co_return decoder.hasError() ? QStringLiteral("[]") : text;
}
