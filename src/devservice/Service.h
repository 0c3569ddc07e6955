#pragma once

#include "Database.h"
#include "DemoServers.h"

#include <QAbstractHttpServer>
#include <QHttpServerRequest>
#include <QJsonObject>
#include <QString>
#include <optional>

// The reference service: every endpoint the app calls, plus the browser pages that stand in for
// the payment provider and the Telegram bot. HTTP on 127.0.0.1 only; state in SQLite.
class Service final : public QAbstractHttpServer {
public:
    static constexpr qint64 maxBody = 64 * 1024;
    static constexpr qint64 telegramKeySeconds = 5 * 60;

    Service(Database& db, const DemoServers& servers, QString dataFolder);

    // Listens on 127.0.0.1:`port` (0: any free port); the port, or 0 on failure.
    quint16 start(quint16 port);
    // Creates the demo account when missing and makes its subscription active for 30 days.
    void seedDemoAccount(const QString& email, const QString& password);

    struct Answer {
        int status = 200;
        QByteArray body;
        QByteArray type = "application/json; charset=utf-8";
    };
    // One request as the handlers see it.
    struct Call {
        const QHttpServerRequest& request;
        QString path;
        QJsonObject json;              // the body, for endpoints that take one
        std::optional<qint64> account; // the bearer token's account
    };

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    Answer dispatch(const QHttpServerRequest& request);
    std::optional<qint64> bearerAccount(const QHttpServerRequest& request);
    // Binds the calling device on an authorised request while a slot is free; false when the
    // device is unbound and the account has no free slot.
    bool bindDevice(qint64 account, const QHttpServerRequest& request);
    QString origin() const { return m_origin; }

    // Accounts
    Answer registerAccount(const Call& call);
    Answer login(const Call& call);
    Answer me(const Call& call);
    Answer referral(const Call& call);
    Answer deleteDevice(const Call& call);
    // Subscription and payments
    Answer plans(const Call& call);
    Answer trial(const Call& call);
    Answer promo(const Call& call);
    Answer pay(const Call& call);
    Answer subscribeCard(const Call& call);
    Answer payStatus(const Call& call, qint64 order);
    Answer checkoutPage(const QString& key);
    Answer checkoutPay(const QString& key);
    // Telegram
    Answer tgStart(const Call& call);
    Answer tgPoll(const Call& call);
    Answer tgPage(const QString& key);
    Answer tgConfirm(const Call& call, const QString& key);
    // Servers and facts
    Answer configs(const Call& call, bool deviceAllowed);
    Answer exitAddress(const Call& call);
    Answer ipInfo(const Call& call);
    Answer appVersion(const Call& call);
    Answer accountPage(const Call& call);

    QString issueToken(qint64 account);
    qint64 newAccount(const QVariant& email, const QVariant& telegram, const QByteArray& password);
    void extend(qint64 account, qint64 days, std::optional<qint64> devices);
    bool expired(qint64 account);
    QString unusedReferralCode();

    Database& m_db;
    const DemoServers& m_servers;
    QString m_dataFolder;
    QString m_origin;
};

// Reply helpers shared by the handlers.
namespace reply {
Service::Answer json(const QJsonObject& object, int status = 200);
Service::Answer error(int status, const QString& text, const QString& code = {});
Service::Answer html(const QString& title, const QString& bodyHtml, int status = 200);
QString isoMoment(qint64 secondsSinceEpoch);
qint64 now();
} // namespace reply
