#pragma once

#include <QByteArray>
#include <QString>
#include <stdexcept>

// A key that cannot be read or is not an Ed25519 key, or a signing failure inside OpenSSL.
struct KeyError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Ed25519 over whole messages, with keys in the PEM files that `openssl genpkey -algorithm
// ed25519` and `openssl pkey -pubout` write.
QByteArray ed25519Sign(const QString& privateKeyPem, const QByteArray& message);
// False for a wrong or malformed signature; KeyError when the key itself is unusable.
bool ed25519Verify(const QString& publicKeyPem, const QByteArray& message, const QByteArray& signature);
