// clang-format off
// GLib's headers use "signals" as a member name, which Qt defines as a keyword: GLib comes first.
#include <libsecret/secret.h>
// clang-format on

#include "platform/SecureStore.h"
#include "support/PrivateSession.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QTest>
#include <memory>

// Runs against a real Secret Service (see support/PrivateSession.h), as the ordinary user when
// started as root.

namespace {

// The stored form of the app's items, written out independently of the code under test.
const SecretSchema schema = [] {
    SecretSchema form{};
    form.name = "app.vemko.vpn";
    form.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
    form.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
    return form;
}();

// The labels of the app's items as stored for `account`.
QStringList labelsFor(const char* service, const QString& account) {
    const QByteArray key = account.toUtf8();
    GList* found = secret_password_search_sync(&schema, SECRET_SEARCH_ALL, nullptr, nullptr, "service",
                                               service, "account", key.constData(), nullptr);
    QStringList labels;
    for (GList* node = found; node; node = node->next) {
        std::unique_ptr<gchar, decltype(&g_free)> label(
            secret_retrievable_get_label(static_cast<SecretRetrievable*>(node->data)), &g_free);
        labels << QString::fromUtf8(label.get());
    }
    g_list_free_full(found, g_object_unref);
    return labels;
}

} // namespace

class TestSecretService : public QObject {
    Q_OBJECT

public:
    explicit TestSecretService(QString unavailable) : m_unavailable(std::move(unavailable)) {}

private:
    QString m_unavailable;
    LibsecretStore m_store;

private slots:
    void initTestCase() {
        if (!m_unavailable.isEmpty())
            QSKIP(qPrintable(m_unavailable));
    }

    void writeReplaceReadRemove() {
        const QString token = u"токен-✓-𝄞-ünïcödé \"'\\ end"_qs;
        QVERIFY(m_store.write(u"token"_qs, u"first"_qs));
        QVERIFY(m_store.write(u"token"_qs, token));
        QVERIFY(m_store.write(u"other"_qs, u"B"_qs));
        QCOMPARE(LibsecretStore().read(u"token"_qs), token);
        // A second write replaces the item instead of adding one.
        QCOMPARE(labelsFor("app.vemko.vpn", u"token"_qs), QStringList{u"Вемко VPN: token"_qs});
        QCOMPARE(LibsecretStore(u"app.someone.else"_qs).read(u"token"_qs), std::nullopt);

        m_store.remove(u"token"_qs);
        m_store.remove(u"token"_qs); // a missing item is silent
        QCOMPARE(m_store.read(u"token"_qs), std::nullopt);
        QVERIFY(labelsFor("app.vemko.vpn", u"token"_qs).isEmpty());
        QCOMPARE(m_store.read(u"other"_qs), u"B"_qs);
    }

    // Bytes that are not UTF-8, stored under the app's schema as another program could.
    void nonUtf8SecretReadsAsNothing() {
        const QByteArray bytes("\xff\xfe\x80 not text");
        std::unique_ptr<SecretValue, decltype(&secret_value_unref)> value(
            secret_value_new(bytes.constData(), bytes.size(), "text/plain"), &secret_value_unref);
        QVERIFY(secret_password_store_binary_sync(&schema, SECRET_COLLECTION_DEFAULT, "binary", value.get(),
                                                  nullptr, nullptr, "service", "app.vemko.vpn", "account",
                                                  "binary", nullptr));
        QCOMPARE(m_store.read(u"binary"_qs), std::nullopt);
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList missing;
    for (const auto& tool : {u"dbus-run-session"_qs, u"gnome-keyring-daemon"_qs, u"dbus-send"_qs})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            missing << tool;
    if (!private_session::inside() && missing.isEmpty())
        return private_session::rerunInside(argc, argv);
    TestSecretService test(missing.isEmpty() ? QString()
                                             : u"the Secret Service test needs "_qs + missing.join(u", ") +
                                                   u" (not installed)"_qs);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_secret_service.moc"
