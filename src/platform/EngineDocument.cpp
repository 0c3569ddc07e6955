#include "platform/EngineDocument.h"

#include <QJsonArray>

namespace {

// Sniffing protocols that v2ray 4.34 does not know; the rest of the list still works.
bool engineRefusesSniffing(const QJsonValue& protocol) {
    return protocol.toString() == QLatin1String("quic");
}

QJsonObject adaptInbound(QJsonObject inbound) {
    QJsonObject sniffing = inbound.value("sniffing").toObject();
    const QJsonValue overrides = sniffing.value("destOverride");
    if (!overrides.isArray())
        return inbound;
    QJsonArray kept;
    for (const auto protocol : overrides.toArray())
        if (!engineRefusesSniffing(protocol))
            kept.append(protocol);
    if (kept.size() == overrides.toArray().size())
        return inbound;
    sniffing.insert("destOverride", kept);
    inbound.insert("sniffing", sniffing);
    return inbound;
}

} // namespace

QJsonObject adaptForEngine(QJsonObject document) {
    // The engine's output is the host's log: no access log (it would list every destination the
    // user visits), no log file of the document's choosing, warnings and worse only.
    document.insert("log", QJsonObject{{"access", "none"}, {"loglevel", "warning"}});
    const QJsonValue inbounds = document.value("inbounds");
    if (!inbounds.isArray())
        return document;
    QJsonArray adapted;
    for (const auto inbound : inbounds.toArray())
        adapted.append(inbound.isObject() ? QJsonValue(adaptInbound(inbound.toObject())) : inbound);
    document.insert("inbounds", adapted);
    return document;
}
