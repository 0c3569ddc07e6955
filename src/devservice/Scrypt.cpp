#include "Scrypt.h"

#include <QCryptographicHash>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace secrets {

QByteArray randomBytes(int count) {
    QByteArray bytes(count, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), count) != 1)
        qFatal("vemko-devservice: no random bytes from OpenSSL");
    return bytes;
}

QByteArray scrypt(const QByteArray& password, const QByteArray& salt) {
    QByteArray key(32, '\0');
    const int ok = EVP_PBE_scrypt(password.constData(), size_t(password.size()),
                                  reinterpret_cast<const unsigned char*>(salt.constData()),
                                  size_t(salt.size()), 1 << 14, 8, 1, 64 * 1024 * 1024,
                                  reinterpret_cast<unsigned char*>(key.data()), size_t(key.size()));
    return ok == 1 ? key : QByteArray();
}

QByteArray tokenDigest(const QByteArray& token) {
    return QCryptographicHash::hash(token, QCryptographicHash::Sha256);
}

bool sameBytes(const QByteArray& a, const QByteArray& b) {
    return !a.isEmpty() && a.size() == b.size() &&
           CRYPTO_memcmp(a.constData(), b.constData(), size_t(a.size())) == 0;
}

} // namespace secrets
