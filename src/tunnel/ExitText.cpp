#include "tunnel/ExitText.h"

#include <QJsonDocument>
#include <QJsonObject>

std::optional<QString> exitText(const QByteArray& body) {
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject info = document.object();
    const QString ip = info.value(QStringLiteral("ip")).toString();
    const QString city = info.value(QStringLiteral("city")).toString();
    return city.isEmpty() ? ip : city + QStringLiteral(" · ") + ip;
}
