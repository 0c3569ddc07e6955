#include "service/JsonFields.h"

#include "service/Errors.h"

#include <QJsonDocument>

QString JsonFields::fieldName(const char* name) const {
    const auto member = QString::fromLatin1(name);
    return m_path.isEmpty() ? member : m_path + QLatin1Char('.') + member;
}

void JsonFields::failAt(const QString& field, const QString& reason) {
    throw DecodingError(field, reason);
}

void JsonFields::fail(const char* name, const QString& reason) const {
    failAt(fieldName(name), reason);
}

QJsonValue JsonFields::required(const char* name) const {
    auto value = m_object.value(QLatin1String(name));
    if (value.isUndefined())
        fail(name, QStringLiteral("missing"));
    if (value.isNull())
        fail(name, QStringLiteral("null"));
    return value;
}

QString JsonFields::string(const char* name) const {
    const auto value = required(name);
    if (!value.isString())
        fail(name, QStringLiteral("expected a string"));
    return value.toString();
}

std::optional<QString> JsonFields::optionalString(const char* name) const {
    const auto value = m_object.value(QLatin1String(name));
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isString())
        fail(name, QStringLiteral("expected a string"));
    return value.toString();
}

bool JsonFields::boolean(const char* name) const {
    const auto value = required(name);
    if (!value.isBool())
        fail(name, QStringLiteral("expected a Boolean"));
    return value.toBool();
}

qint64 JsonFields::integer(const char* name) const {
    const auto value = required(name);
    if (!value.isDouble())
        fail(name, QStringLiteral("expected an integer"));
    // toInteger() falls back to its default for a fraction or a value beyond 64 bits; two
    // different defaults tell that apart from a real value.
    const auto first = value.toInteger(0);
    if (first != value.toInteger(1))
        fail(name, QStringLiteral("expected an integer, got %1").arg(value.toDouble()));
    return first;
}

double JsonFields::number(const char* name) const {
    const auto value = required(name);
    if (!value.isDouble())
        fail(name, QStringLiteral("expected a number"));
    return value.toDouble();
}

QJsonObject JsonFields::root(const QByteArray& body) {
    QJsonParseError error{};
    const auto document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        failAt({}, QStringLiteral("the reply is not JSON: ") + error.errorString());
    if (!document.isObject())
        failAt({}, QStringLiteral("the reply is not a JSON object"));
    return document.object();
}
