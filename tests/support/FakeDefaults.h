#pragma once

#include "platform/Defaults.h"

// Settings in memory whose writes fail while `full` is set, as on a full disk.
class FakeDefaults final : public Defaults {
public:
    std::optional<QJsonValue> value(const QString& key) const override { return m_values.value(key); }
    bool setValue(const QString& key, const QJsonValue& value) override {
        return !full && m_values.setValue(key, value);
    }
    QString lastWriteError() const override {
        return full ? QStringLiteral("нет места на диске") : QString();
    }

    bool full = false;

private:
    MemoryDefaults m_values;
};
