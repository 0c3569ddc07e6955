#include "device/Keychain.h"

#include "platform/SecureStore.h"

std::optional<QString> Keychain::read(const QString& key) const {
    return m_store.read(key);
}

// The store replaces the item in one step, so a refused write keeps the previous token instead
// of signing the user out.
bool Keychain::write(const QString& key, const QString& value) {
    return m_store.write(key, value);
}

void Keychain::remove(const QString& key) {
    m_store.remove(key);
}
