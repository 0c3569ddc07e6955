#include "service/Api.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>

namespace {

bool isArrayOfObjects(const QJsonArray& array) {
    for (const auto& element : array)
        if (!element.isObject())
            return false;
    return true;
}

// A placeholder stands for a server the account may not use yet: one of its outbounds lists a
// "vnext" server at exactly "0.0.0.0". Lists of the wrong shape are not examined at all.
bool isPlaceholder(const QJsonObject& config) {
    const auto outbounds = config.value(QLatin1String("outbounds"));
    if (!outbounds.isArray())
        return false;
    const auto outboundList = outbounds.toArray();
    if (!isArrayOfObjects(outboundList))
        return false;
    for (const auto& outbound : outboundList) {
        const auto settings = outbound.toObject().value(QLatin1String("settings"));
        if (!settings.isObject())
            continue;
        const auto vnext = settings.toObject().value(QLatin1String("vnext"));
        if (!vnext.isArray())
            continue;
        const auto servers = vnext.toArray();
        if (!isArrayOfObjects(servers))
            continue;
        for (const auto& server : servers) {
            const auto address = server.toObject().value(QLatin1String("address"));
            if (address.isString() && address.toString() == QLatin1String("0.0.0.0"))
                return true;
        }
    }
    return false;
}

// A random (version 4) id from the fast, securely seeded generator: ids only tell list rows
// apart, and a system call per profile would dominate the parse of a large document.
QUuid freshId() {
    quint32 r[4];
    QRandomGenerator::global()->fillRange(r);
    return QUuid(r[0], ushort(r[1]), ushort(((r[1] >> 16) & 0x0fff) | 0x4000), uchar((r[2] & 0x3f) | 0x80),
                 uchar(r[2] >> 8), uchar(r[2] >> 16), uchar(r[2] >> 24), uchar(r[3]), uchar(r[3] >> 8),
                 uchar(r[3] >> 16), uchar(r[3] >> 24));
}

} // namespace

QList<ServerProfile> Api::parseProfiles(const QString& text) {
    QJsonParseError error{};
    const auto document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return {};
    const auto configs = document.array();
    if (!isArrayOfObjects(configs))
        return {};

    static const QString fallbackName = QStringLiteral("Сервер");
    QList<ServerProfile> profiles;
    profiles.reserve(configs.size());
    for (const auto& element : configs) {
        auto config = element.toObject();
        if (isPlaceholder(config))
            continue;
        const auto remarks = config.value(QLatin1String("remarks"));
        auto name = remarks.isString() ? remarks.toString() : fallbackName;
        profiles.append(ServerProfile{freshId(), std::move(name), std::move(config)});
    }
    return profiles;
}
