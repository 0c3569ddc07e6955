#include "Ed25519.h"

#include <QFile>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

enum class KeyKind { Private, Public };

Pkey readKey(const QString& path, KeyKind kind) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw KeyError("cannot read key " + path.toStdString());
    const QByteArray pem = file.read(qint64{64} * 1024);
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    if (!bio)
        throw KeyError("out of memory");
    Pkey key(kind == KeyKind::Private ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)
                                      : PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    if (!key || EVP_PKEY_id(key.get()) != EVP_PKEY_ED25519)
        throw KeyError("not an Ed25519 key: " + path.toStdString());
    return key;
}

std::unique_ptr<EVP_MD_CTX, MdCtxFree> newContext() {
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    if (!ctx)
        throw KeyError("out of memory");
    return ctx;
}

const unsigned char* data(const QByteArray& bytes) {
    return reinterpret_cast<const unsigned char*>(bytes.constData());
}

} // namespace

QByteArray ed25519Sign(const QString& privateKeyPem, const QByteArray& message) {
    const Pkey key = readKey(privateKeyPem, KeyKind::Private);
    const auto ctx = newContext();
    size_t length = 0;
    // Ed25519 signs the message itself (no digest): one-shot calls only.
    if (EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(ctx.get(), nullptr, &length, data(message), size_t(message.size())) != 1)
        throw KeyError("signing failed");
    QByteArray signature(qsizetype(length), '\0');
    if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &length, data(message),
                       size_t(message.size())) != 1)
        throw KeyError("signing failed");
    signature.truncate(qsizetype(length));
    return signature;
}

bool ed25519Verify(const QString& publicKeyPem, const QByteArray& message, const QByteArray& signature) {
    const Pkey key = readKey(publicKeyPem, KeyKind::Public);
    const auto ctx = newContext();
    if (EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(ctx.get(), data(signature), size_t(signature.size()), data(message),
                            size_t(message.size())) == 1;
}
