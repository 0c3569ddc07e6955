#include "tunnel/TunnelConfig.h"

#include "service/Errors.h"
#include "tunnel/Texts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringDecoder>

namespace {

QJsonObject socksInbound() {
    return QJsonObject{
        {QStringLiteral("tag"), QStringLiteral("socks")},
        {QStringLiteral("port"), 10808},
        {QStringLiteral("listen"), QStringLiteral("127.0.0.1")},
        {QStringLiteral("protocol"), QStringLiteral("socks")},
        {QStringLiteral("settings"),
         QJsonObject{{QStringLiteral("udp"), true}, {QStringLiteral("auth"), QStringLiteral("noauth")}}},
        {QStringLiteral("sniffing"),
         QJsonObject{{QStringLiteral("enabled"), true},
                     {QStringLiteral("routeOnly"), false},
                     {QStringLiteral("destOverride"),
                      QJsonArray{QStringLiteral("http"), QStringLiteral("tls"), QStringLiteral("quic")}}}},
    };
}

} // namespace

QString makeConfig(const ServerProfile& profile) {
    QJsonObject document = profile.config;
    document.insert(QStringLiteral("inbounds"), QJsonArray{socksInbound()});
    document.insert(QStringLiteral("log"),
                    QJsonObject{{QStringLiteral("loglevel"), QStringLiteral("warning")}});
    document.remove(QStringLiteral("remarks"));

    const QByteArray bytes = QJsonDocument(document).toJson(QJsonDocument::Compact);
    auto decoder = QStringDecoder(QStringDecoder::Utf8);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        throw Fail(tunnel_texts::buildFailed);
    return text;
}
