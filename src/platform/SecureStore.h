#pragma once

#include <QString>
#include <optional>

// Secret items keyed by (service, account): the counterpart of the keychain's generic passwords.
// Every operation is silent: failures read as "no value" and writes/removals report nothing
// beyond the bool, which callers may ignore.
class SecureStore {
public:
    virtual ~SecureStore() = default;
    virtual std::optional<QString> read(const QString& account) const = 0;
    // Replaces the item in one step; on failure the previous value stays. True when stored.
    virtual bool write(const QString& account, const QString& value) = 0;
    virtual void remove(const QString& account) = 0;
};

// libsecret (Secret Service API): schema "app.vemko.vpn", attributes "service" (the app
// identifier) and "account" (the key). Synchronous calls on the caller's thread.
class LibsecretStore final : public SecureStore {
public:
    explicit LibsecretStore(QString service = QStringLiteral("app.vemko.vpn"));
    std::optional<QString> read(const QString& account) const override;
    bool write(const QString& account, const QString& value) override;
    void remove(const QString& account) override;

private:
    QString m_service;
};
