#pragma once

#include <QByteArray>

// Salted password hashes (scrypt through OpenSSL) and the random material of tokens and keys.
namespace secrets {

QByteArray randomBytes(int count);
// scrypt(password, salt) with N = 2^14, r = 8, p = 1, 32 bytes; empty on an OpenSSL failure.
QByteArray scrypt(const QByteArray& password, const QByteArray& salt);
// The stored form of a bearer token: its SHA-256.
QByteArray tokenDigest(const QByteArray& token);
// Equal lengths and contents, compared in constant time.
bool sameBytes(const QByteArray& a, const QByteArray& b);

} // namespace secrets
