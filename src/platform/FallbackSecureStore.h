#pragma once

#include "platform/SecureStore.h"

#include <QString>

// The Secret Service when the desktop has one, else a private file, as browsers fall back to a
// basic store: "$XDG_DATA_HOME/vemko-vpn/<key>" (mode 0600, folder 0700, replaced atomically).
// A value written to the Secret Service removes the file copy, so a secret lives in one place.
class FallbackSecureStore final : public SecureStore {
public:
    // The default folder: $XDG_DATA_HOME/vemko-vpn (or ~/.local/share/vemko-vpn).
    static QString defaultFolder();
    FallbackSecureStore(SecureStore& primary, QString folder = defaultFolder());

    std::optional<QString> read(const QString& account) const override;
    bool write(const QString& account, const QString& value) override;
    void remove(const QString& account) override;

private:
    // The file for `account`, or empty for a key that is no plain file name.
    QString fileFor(const QString& account) const;

    SecureStore& m_primary;
    QString m_folder;
};
