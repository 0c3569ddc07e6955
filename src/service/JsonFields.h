#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <optional>

// Reads the members of one JSON object with exact presence and type rules, throwing a
// DecodingError that names the member (with the path of the enclosing lists, e.g.
// "devices[2].hwid").
class JsonFields {
public:
    JsonFields(const QJsonObject& object, QString path = {}) : m_object(object), m_path(std::move(path)) {}

    QString string(const char* name) const;
    std::optional<QString> optionalString(const char* name) const;
    bool boolean(const char* name) const;
    qint64 integer(const char* name) const;
    double number(const char* name) const;

    // A required list whose elements are objects, each decoded by T::decode.
    template <typename T> QList<T> list(const char* name) const;

    // The decoded root object of a reply body; throws when the body is not a JSON object.
    static QJsonObject root(const QByteArray& body);

private:
    QString fieldName(const char* name) const;
    QJsonValue required(const char* name) const;
    [[noreturn]] void fail(const char* name, const QString& reason) const;
    [[noreturn]] static void failAt(const QString& field, const QString& reason);

    const QJsonObject& m_object;
    QString m_path;
};

// Each record's decoder, given the path of its object so that errors name the whole way down
// (specialised per record in Records.cpp).
template <typename T> T decodeWithPath(const QJsonObject& object, const QString& path);

template <typename T> QList<T> JsonFields::list(const char* name) const {
    const auto value = required(name);
    if (!value.isArray())
        fail(name, QStringLiteral("expected an array"));
    const auto array = value.toArray();
    QList<T> items;
    items.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        const auto element = array.at(i);
        const auto elementPath = fieldName(name) + QLatin1Char('[') + QString::number(i) + QLatin1Char(']');
        if (!element.isObject())
            failAt(elementPath, QStringLiteral("expected an object"));
        items.append(decodeWithPath<T>(element.toObject(), elementPath));
    }
    return items;
}
