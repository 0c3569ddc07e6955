// clang-format off
// GLib's headers use "signals" as a member name, which Qt defines as a keyword: GLib comes first.
#include <libsecret/secret.h>
// clang-format on

#include "platform/SecureStore.h"

#include <QByteArray>
#include <QStringDecoder>
#include <memory>

namespace {

const SecretSchema* schema() {
    static const SecretSchema definition = {
        "app.vemko.vpn",
        SECRET_SCHEMA_NONE,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    };
    return &definition;
}

// Owns the GError a libsecret call may hand back.
class ErrorSlot {
public:
    ErrorSlot() = default;
    ErrorSlot(const ErrorSlot&) = delete;
    ErrorSlot& operator=(const ErrorSlot&) = delete;
    ~ErrorSlot() {
        if (m_error)
            g_error_free(m_error);
    }
    GError** out() { return &m_error; }
    bool isSet() const { return m_error != nullptr; }

private:
    GError* m_error = nullptr;
};

struct PasswordFree {
    void operator()(gchar* password) const { secret_password_free(password); }
};
using Password = std::unique_ptr<gchar, PasswordFree>;

} // namespace

LibsecretStore::LibsecretStore(QString service) : m_service(std::move(service)) {}

std::optional<QString> LibsecretStore::read(const QString& account) const {
    const QByteArray service = m_service.toUtf8();
    const QByteArray key = account.toUtf8();
    ErrorSlot error;
    const Password password(secret_password_lookup_sync(
        schema(), nullptr, error.out(), "service", service.constData(), "account", key.constData(), nullptr));
    if (error.isSet() || !password)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(QByteArrayView(password.get()));
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

bool LibsecretStore::write(const QString& account, const QString& value) {
    const QByteArray service = m_service.toUtf8();
    const QByteArray key = account.toUtf8();
    const QByteArray label = QStringLiteral("Вемко VPN: %1").arg(account).toUtf8();
    const QByteArray secret = value.toUtf8();
    ErrorSlot error;
    // Stores with "replace": the old item is swapped in one step, never deleted first.
    const gboolean stored = secret_password_store_sync(
        schema(), SECRET_COLLECTION_DEFAULT, label.constData(), secret.constData(), nullptr, error.out(),
        "service", service.constData(), "account", key.constData(), nullptr);
    return stored && !error.isSet();
}

void LibsecretStore::remove(const QString& account) {
    const QByteArray service = m_service.toUtf8();
    const QByteArray key = account.toUtf8();
    ErrorSlot error;
    secret_password_clear_sync(schema(), nullptr, error.out(), "service", service.constData(), "account",
                               key.constData(), nullptr);
}
