#include "DemoServers.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

bool DemoServers::load(const QString& fileName, QString* error) {
    if (fileName.isEmpty())
        return true;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("не удалось прочитать %1").arg(fileName);
        return false;
    }
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isArray()) {
        *error = QStringLiteral("%1: ожидается JSON-массив серверов").arg(fileName);
        return false;
    }
    for (const QJsonValue& value : document.array()) {
        const QJsonObject o = value.toObject();
        Entry entry{o["name"].toString(), o["address"].toString(), o["port"].toInteger(),
                    o["id"].toString(),   o["exit"].toString(),    o["city"].toString()};
        if (entry.name.isEmpty() || entry.address.isEmpty() || entry.port <= 0 || entry.port > 65535 ||
            entry.id.isEmpty()) {
            *error = QStringLiteral("%1: у сервера нет имени, адреса, порта или id").arg(fileName);
            return false;
        }
        m_entries << entry;
    }
    return true;
}

QJsonArray DemoServers::configs() const {
    QJsonArray document;
    for (const Entry& entry : m_entries) {
        const QJsonObject user{{"id", entry.id}, {"alterId", 0}, {"security", "auto"}, {"level", 0}};
        document << QJsonObject{
            {"remarks", entry.name},
            {"log", QJsonObject{{"loglevel", "warning"}}},
            {"inbounds", QJsonArray{QJsonObject{
                             {"tag", "socks"},
                             {"port", 10808},
                             {"listen", "127.0.0.1"},
                             {"protocol", "socks"},
                             {"settings", QJsonObject{{"udp", true}, {"auth", "noauth"}}},
                             {"sniffing", QJsonObject{{"enabled", true},
                                                      {"destOverride", QJsonArray{"http", "tls", "quic"}},
                                                      {"routeOnly", true}}}}}},
            {"outbounds",
             QJsonArray{
                 QJsonObject{{"tag", "proxy"},
                             {"protocol", "vmess"},
                             {"settings", QJsonObject{{"vnext", QJsonArray{QJsonObject{
                                                                    {"address", entry.address},
                                                                    {"port", entry.port},
                                                                    {"users", QJsonArray{user}}}}}}}},
                 QJsonObject{{"tag", "direct"}, {"protocol", "freedom"}, {"settings", QJsonObject{}}}}}};
    }
    return document;
}

QString DemoServers::cityOf(const QHostAddress& address) const {
    for (const Entry& entry : m_entries)
        if (!entry.exit.isEmpty() &&
            QHostAddress(entry.exit).isEqual(address, QHostAddress::ConvertV4MappedToIPv4))
            return entry.city.isEmpty() ? entry.name : entry.city;
    return QStringLiteral("Москва");
}
