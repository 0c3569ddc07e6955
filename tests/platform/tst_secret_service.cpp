// clang-format off
// GLib's headers use "signals" as a member name, which Qt defines as a keyword: GLib comes first.
#include <libsecret/secret.h>
// clang-format on

#include "platform/SecureStore.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

// Runs against a real Secret Service: gnome-keyring in a private D-Bus session with a throw-away
// home, so the user's own keyring is never touched.

namespace {

constexpr char insideMarker[] = "VEMKO_TEST_PRIVATE_KEYRING";

// $1 is the throw-away home; the rest is the command to run inside. The keyring password goes
// through a pipe from a shell builtin, never onto a command line.
constexpr char sessionScript[] = R"sh(
home=$1; shift
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" \
       XDG_CACHE_HOME="$home/cache" XDG_RUNTIME_DIR="$home/run"
mkdir -m 0700 "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR" || exit 90
printf '%s\n' throwaway-keyring-password \
    | gnome-keyring-daemon --unlock --components=secrets > "$home/keyring.env" || exit 91
while IFS= read -r line; do
    case $line in *=*) export "$line" ;; esac
done < "$home/keyring.env"
# The daemon claims its bus name a moment after its launcher returns: wait up to 10 s for it.
daemon=
tries=0
while [ -z "$daemon" ] && [ $tries -lt 100 ]; do
    daemon=$(dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.GetConnectionUnixProcessID string:org.freedesktop.secrets 2>/dev/null \
        | sed -n 's/.*uint32 \([0-9][0-9]*\).*/\1/p')
    [ -n "$daemon" ] || sleep 0.1
    tries=$((tries + 1))
done
[ -n "$daemon" ] || { echo "gnome-keyring-daemon did not register on the private bus" >&2; exit 92; }
"$@"
status=$?
# The daemon would also leave with the bus; stopping it here leaves nothing behind either way.
kill "$daemon" 2>/dev/null
exit $status
)sh";

// Re-runs this test binary inside the private session; its exit code is the test's result.
int runInPrivateSession(const QStringList& arguments) {
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    QProcess session;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(insideMarker), QStringLiteral("1"));
    session.setProcessEnvironment(environment);
    session.setProcessChannelMode(QProcess::ForwardedChannels);
    session.setInputChannelMode(QProcess::ForwardedInputChannel);
    session.start(QStringLiteral("dbus-run-session"),
                  QStringList{QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"),
                              QString::fromLatin1(sessionScript), QStringLiteral("sh"), home.path()} +
                      arguments);
    if (!session.waitForStarted() || !session.waitForFinished(120'000)) {
        session.kill();
        session.waitForFinished();
        return 1;
    }
    return session.exitStatus() == QProcess::NormalExit ? session.exitCode() : 1;
}

QStringList missingTools() {
    QStringList missing;
    for (const auto& tool : {u"dbus-run-session"_qs, u"gnome-keyring-daemon"_qs, u"dbus-send"_qs})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            missing << tool;
    return missing;
}

// The stored form of the app's items, written out independently of the code under test.
const SecretSchema* appSchema() {
    static const SecretSchema schema = {
        "app.vemko.vpn",
        SECRET_SCHEMA_NONE,
        {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
         {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
         {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    };
    return &schema;
}

struct Item {
    QString label;
    QMap<QString, QString> attributes;
};

// Every item of the default collection stored for this account, whatever its schema.
QList<Item> itemsFor(const QString& account) {
    static const SecretSchema anySchema = {
        "any",
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {{"account", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    };
    GError* error = nullptr;
    const QByteArray key = account.toUtf8();
    GList* found = secret_password_search_sync(&anySchema, SECRET_SEARCH_ALL, nullptr, &error, "account",
                                               key.constData(), nullptr);
    QList<Item> items;
    for (GList* node = found; node; node = node->next) {
        auto* item = static_cast<SecretRetrievable*>(node->data);
        std::unique_ptr<gchar, decltype(&g_free)> label(secret_retrievable_get_label(item), &g_free);
        Item copy{QString::fromUtf8(label.get()), {}};
        GHashTable* attributes = secret_retrievable_get_attributes(item);
        GHashTableIter iterator;
        gpointer name = nullptr;
        gpointer value = nullptr;
        g_hash_table_iter_init(&iterator, attributes);
        while (g_hash_table_iter_next(&iterator, &name, &value))
            copy.attributes.insert(QString::fromUtf8(static_cast<const char*>(name)),
                                   QString::fromUtf8(static_cast<const char*>(value)));
        g_hash_table_unref(attributes);
        items << copy;
    }
    g_list_free_full(found, g_object_unref);
    if (error)
        g_error_free(error);
    return items;
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

    void init() {
        for (const auto& account : {u"token"_qs, u"other"_qs, u"absent"_qs, u"binary"_qs})
            m_store.remove(account);
    }

    void writeThenRead() {
        QVERIFY(m_store.write(u"token"_qs, u"tok-123"_qs));
        QCOMPARE(m_store.read(u"token"_qs), u"tok-123"_qs);
        QCOMPARE(LibsecretStore().read(u"token"_qs), u"tok-123"_qs);

        const auto items = itemsFor(u"token"_qs);
        QCOMPARE(items.size(), 1);
        QCOMPARE(items[0].label, u"Вемко VPN: token"_qs);
        QCOMPARE(items[0].attributes.value(u"service"_qs), u"app.vemko.vpn"_qs);
        QCOMPARE(items[0].attributes.value(u"xdg:schema"_qs), u"app.vemko.vpn"_qs);
    }

    void secondWriteReplacesTheItem() {
        QVERIFY(m_store.write(u"token"_qs, u"first"_qs));
        QVERIFY(m_store.write(u"token"_qs, u"second"_qs));
        QCOMPARE(m_store.read(u"token"_qs), u"second"_qs);
        QCOMPARE(itemsFor(u"token"_qs).size(), 1);
    }

    void missingItemIsSilent() {
        QCOMPARE(m_store.read(u"absent"_qs), std::nullopt);
        m_store.remove(u"absent"_qs);
        QCOMPARE(m_store.read(u"absent"_qs), std::nullopt);
        QVERIFY(itemsFor(u"absent"_qs).isEmpty());
    }

    void nonAsciiRoundTrip() {
        const QString token = u"токен-✓-𝄞-ünïcödé \"'\\ end"_qs;
        QVERIFY(m_store.write(u"token"_qs, token));
        QCOMPARE(LibsecretStore().read(u"token"_qs), token);
    }

    void accountsAndServicesAreSeparate() {
        QVERIFY(m_store.write(u"token"_qs, u"A"_qs));
        QVERIFY(m_store.write(u"other"_qs, u"B"_qs));
        QCOMPARE(m_store.read(u"token"_qs), u"A"_qs);
        QCOMPARE(m_store.read(u"other"_qs), u"B"_qs);
        QCOMPARE(LibsecretStore(u"app.someone.else"_qs).read(u"token"_qs), std::nullopt);

        m_store.remove(u"token"_qs);
        QCOMPARE(m_store.read(u"token"_qs), std::nullopt);
        QCOMPARE(m_store.read(u"other"_qs), u"B"_qs);
    }

    void nonUtf8SecretReadsAsNothing() {
        const QByteArray bytes("\xff\xfe\x80 not text");
        std::unique_ptr<SecretValue, decltype(&secret_value_unref)> value(
            secret_value_new(bytes.constData(), bytes.size(), "text/plain"), &secret_value_unref);
        GError* error = nullptr;
        const gboolean stored = secret_password_store_binary_sync(
            appSchema(), SECRET_COLLECTION_DEFAULT, "binary", value.get(), nullptr, &error, "service",
            "app.vemko.vpn", "account", "binary", nullptr);
        if (error)
            g_error_free(error);
        QVERIFY(stored);
        QCOMPARE(m_store.read(u"binary"_qs), std::nullopt);
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString unavailable;
    if (qEnvironmentVariableIsEmpty(insideMarker)) {
        const QStringList missing = missingTools();
        if (missing.isEmpty())
            return runInPrivateSession(QStringList{QCoreApplication::applicationFilePath()} +
                                       app.arguments().mid(1));
        unavailable = u"the Secret Service test needs "_qs + missing.join(u", "_qs) + u" (not installed)"_qs;
    }
    TestSecretService test(unavailable);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_secret_service.moc"
