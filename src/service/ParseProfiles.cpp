#include "service/Api.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <vector>

namespace {

bool isArrayOfObjects(const QJsonArray& array) {
    for (const auto& element : array)
        if (!element.isObject())
            return false;
    return true;
}

// True when the list is all objects and one of them has "address" exactly "0.0.0.0". One pass:
// a match counts only once the whole list proved to be objects.
bool listsPlaceholder(const QJsonArray& servers) {
    bool found = false;
    for (const auto& server : servers) {
        if (!server.isObject())
            return false;
        if (!found) {
            const auto address = server.toObject().value(QLatin1String("address"));
            found = address.isString() && address.toString() == QLatin1String("0.0.0.0");
        }
    }
    return found;
}

// A placeholder stands for a server the account may not use yet: one of its outbounds lists a
// "vnext" server at exactly "0.0.0.0". Lists of the wrong shape are not examined at all.
bool isPlaceholder(const QJsonObject& config) {
    const auto outbounds = config.value(QLatin1String("outbounds"));
    if (!outbounds.isArray())
        return false;
    bool found = false;
    for (const auto& outbound : outbounds.toArray()) {
        if (!outbound.isObject())
            return false; // an outbound list of the wrong shape is not checked at all
        if (found)
            continue;
        const auto settings = outbound.toObject().value(QLatin1String("settings"));
        if (!settings.isObject())
            continue;
        const auto vnext = settings.toObject().value(QLatin1String("vnext"));
        found = vnext.isArray() && listsPlaceholder(vnext.toArray());
    }
    return found;
}

// Random (version 4) ids, drawn in one go from the securely seeded generator: ids only tell list
// rows apart, and a draw per profile would show in the parse of a large document.
class FreshIds {
public:
    explicit FreshIds(qsizetype count) : m_words(size_t(count) * 4) {
        QRandomGenerator::global()->fillRange(m_words.data(), qsizetype(m_words.size()));
    }
    QUuid next() {
        const quint32* r = m_words.data() + m_used;
        m_used += 4;
        return QUuid(r[0], ushort(r[1]), ushort(((r[1] >> 16) & 0x0fff) | 0x4000),
                     uchar((r[2] & 0x3f) | 0x80), uchar(r[2] >> 8), uchar(r[2] >> 16), uchar(r[2] >> 24),
                     uchar(r[3]), uchar(r[3] >> 8), uchar(r[3] >> 16), uchar(r[3] >> 24));
    }

private:
    std::vector<quint32> m_words;
    size_t m_used = 0;
};

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
    FreshIds ids(configs.size());
    QList<ServerProfile> profiles;
    profiles.reserve(configs.size());
    for (const auto& element : configs) {
        auto config = element.toObject();
        if (isPlaceholder(config))
            continue;
        const auto remarks = config.value(QLatin1String("remarks"));
        auto name = remarks.isString() ? remarks.toString() : fallbackName;
        profiles.append(ServerProfile{ids.next(), std::move(name), std::move(config)});
    }
    return profiles;
}
