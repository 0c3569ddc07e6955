#include "platform/Defaults.h"

std::optional<QString> Defaults::string(const QString& key) const {
    const auto stored = value(key);
    if (!stored || !stored->isString())
        return std::nullopt;
    return stored->toString();
}

std::optional<bool> Defaults::boolean(const QString& key) const {
    const auto stored = value(key);
    if (!stored || !stored->isBool())
        return std::nullopt;
    return stored->toBool();
}

std::optional<qint64> Defaults::integer(const QString& key) const {
    const auto stored = value(key);
    if (!stored || !stored->isDouble())
        return std::nullopt;
    const QJsonValue& number = *stored;
    // Only whole numbers count; a fraction is another type.
    const double asDouble = number.toDouble();
    const qint64 asInteger = number.toInteger();
    if (static_cast<double>(asInteger) != asDouble)
        return std::nullopt;
    return asInteger;
}

std::optional<QJsonValue> MemoryDefaults::value(const QString& key) const {
    const auto found = m_values.constFind(key);
    if (found == m_values.constEnd())
        return std::nullopt;
    return *found;
}

bool MemoryDefaults::setValue(const QString& key, const QJsonValue& value) {
    m_values.insert(key, value);
    return true;
}
