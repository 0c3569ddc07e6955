#pragma once

#include "service/Errors.h"
#include "service/Records.h"
#include "service/ServerProfile.h"

#include <QCoroTask>
#include <QList>
#include <QString>
#include <optional>

class QNetworkAccessManager;
class Store;
class Keychain;
struct Transport;

// The service client. Holds no state of its own: every call builds its request (device headers,
// bearer token where the endpoint needs it), sends it, judges the status and decodes the record.
// Refusals throw ApiError; network failures TransportError; bad replies DecodingError.
class Api {
public:
    // VEMKO_API_ORIGIN when set, else https://vemko.app.
    static QString defaultOrigin();

    Api(QNetworkAccessManager& network, const Store& store, const Keychain& keychain,
        QString origin = defaultOrigin());

    QString origin() const { return m_origin; }

    QCoro::Task<QString> login(QString email, QString password);
    QCoro::Task<QString> registerAccount(QString email, QString password);
    QCoro::Task<TgStart> tgStart();
    // No value while the sign-in is not confirmed (204).
    QCoro::Task<std::optional<QString>> tgPoll(QString key);
    QCoro::Task<Me> me();
    QCoro::Task<Plans> plans();
    QCoro::Task<Referral> referral();
    QCoro::Task<> trial();
    QCoro::Task<PromoResp> promo(QString code);
    QCoro::Task<> deleteDevice(QString hwid);
    QCoro::Task<PayResp> pay(QString plan, QString method);
    QCoro::Task<StripeUrl> subscribeStripe(qint64 devices, QString interval);
    QCoro::Task<PayStatus> payStatus(qint64 orderId);
    QCoro::Task<AppVersion> appVersion();
    // The configs document as text; "[]" when the body is not valid UTF-8.
    QCoro::Task<QString> configs();

    // Never fails: anything malformed gives an empty list.
    static QList<ServerProfile> parseProfiles(const QString& text);

private:
    Transport transport() const;

    QNetworkAccessManager& m_network;
    const Store& m_store;
    const Keychain& m_keychain;
    QString m_origin;
};
