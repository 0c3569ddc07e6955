#pragma once

#include <QString>
#include <optional>

class SecureStore;

// The token store. Reads and removals are silent: a failure reads as "no value".
class Keychain {
public:
    explicit Keychain(SecureStore& store) : m_store(store) {}

    std::optional<QString> read(const QString& key) const;
    // Replaces the value in one step; when the store refuses (none on this desktop, locked, not
    // answering), the old value stays and the answer is false.
    [[nodiscard]] bool write(const QString& key, const QString& value);
    // Removing a missing item does nothing.
    void remove(const QString& key);

private:
    SecureStore& m_store;
};
