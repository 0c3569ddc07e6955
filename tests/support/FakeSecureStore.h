#pragma once

#include "platform/SecureStore.h"

#include <QMap>

// An in-memory secure store. `refuseWrites` makes every write fail (the old value stays), as a
// locked or full keyring would.
class FakeSecureStore final : public SecureStore {
public:
    std::optional<QString> read(const QString& account) const override {
        const auto found = items.find(account);
        return found == items.end() ? std::nullopt : std::optional<QString>(*found);
    }
    bool write(const QString& account, const QString& value) override {
        if (refuseWrites)
            return false;
        items.insert(account, value);
        return true;
    }
    void remove(const QString& account) override { items.remove(account); }

    QMap<QString, QString> items;
    bool refuseWrites = false;
};
