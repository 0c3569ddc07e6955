// The real tray: under Xvfb with a private D-Bus session (see tests/CMakeLists.txt), a minimal
// StatusNotifierWatcher stands in for the desktop's tray host. The app's icon registers with it,
// its exported menu holds the entries, and an Activate call raises the window. The app itself,
// started as a user starts it, quits from that menu with its window open, and quits for its update.

#include "MenuBarView.h"
#include "Tray.h"
#include "codesign/BundleKit.h"
#include "screens/UiRig.h"
#include "support/TestService.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QJsonObject>
#include <QMutex>
#include <QSemaphore>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

// Only what Qt's tray icon asks of the watcher: is a host there, and registering an item.
class FakeWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
public:
    bool hostRegistered() const { return true; }
    QStringList items() const {
        const QMutexLocker lock(&mutex);
        return m_items;
    }

public slots:
    void RegisterStatusNotifierItem(const QString& service) {
        const QMutexLocker lock(&mutex);
        m_items.append(service);
    }

private:
    mutable QMutex mutex;
    QStringList m_items;
};

// The tray host answers on a connection and thread of its own, as a real one would from its own
// process: the app's blocking availability check must not wait on its own thread.
class HostThread : public QThread {
public:
    FakeWatcher* watcher = nullptr;
    QSemaphore ready;
    bool registered = false;

protected:
    void run() override {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "tray-host");
        FakeWatcher host;
        registered =
            bus.registerObject("/StatusNotifierWatcher", &host,
                               QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) &&
            bus.registerService("org.kde.StatusNotifierWatcher") &&
            // Taken so that the app's token lookup gets a quick "no" instead of activating a
            // keyring daemon in the machine's real home.
            bus.registerService("org.freedesktop.secrets");
        watcher = &host;
        ready.release();
        exec();
        watcher = nullptr;
        QDBusConnection::disconnectFromBus("tray-host");
    }
};

namespace {

// Menu entries by label, with their ids.
void collectLabels(const QDBusArgument& item, QMap<QString, int>& labels) {
    item.beginStructure();
    int id = 0;
    QVariantMap properties;
    item >> id >> properties;
    if (properties.contains("label"))
        labels.insert(properties.value("label").toString(), id);
    item.beginArray();
    while (!item.atEnd()) {
        QDBusVariant child;
        item >> child;
        collectLabels(child.variant().value<QDBusArgument>(), labels);
    }
    item.endArray();
    item.endStructure();
}

// Waits for an asynchronous call without blocking the loop that must answer it.
QDBusMessage await(const QDBusPendingCall& call) {
    QDBusPendingCallWatcher watcher(call);
    (void)QTest::qWaitFor([&] { return watcher.isFinished(); }, 20000);
    return watcher.reply();
}

// A registered item as a desktop's tray sees it: its exported menu, Activate, a click on an entry.
struct TrayItem {
    QString service;

    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments) const {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        return await(QDBusConnection::sessionBus().asyncCall(message));
    }
    QString menuPath() const {
        const QDBusMessage reply = call("/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                                        {"org.kde.StatusNotifierItem", "Menu"});
        return reply.arguments().value(0).value<QDBusVariant>().variant().value<QDBusObjectPath>().path();
    }
    QMap<QString, int> entries() const {
        const QDBusMessage reply =
            call(menuPath(), "com.canonical.dbusmenu", "GetLayout", {0, -1, QStringList{"label"}});
        QMap<QString, int> labels;
        if (reply.type() == QDBusMessage::ReplyMessage)
            collectLabels(reply.arguments().at(1).value<QDBusArgument>(), labels);
        return labels;
    }
    void click(const QString& label) const {
        call(menuPath(), "com.canonical.dbusmenu", "Event",
             {entries().value(label, -1), "clicked", QVariant::fromValue(QDBusVariant(0)), 0u});
    }
};

// vemko-vpn as a user starts it (window open), in a home of its own, against `service`; the
// program is `program` when given (a copy that carries its own update key).
struct AppProcess {
    AppProcess(const QTemporaryDir& dir, const TestService& service, const QString& program = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name :
             {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "TMPDIR"}) {
            const QString folder = dir.filePath(QString::fromLatin1(name));
            QDir().mkpath(folder);
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            env.insert(name, folder);
        }
        env.insert("VEMKO_API_ORIGIN", service.origin());
        env.insert("QT_QPA_PLATFORM", "xcb");
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(program.isEmpty() ? qEnvironmentVariable("VEMKO_BUILD_DIR") + "/bin/vemko-vpn"
                                        : program,
                      QStringList{});
    }
    ~AppProcess() {
        process.kill();
        process.waitForFinished();
    }
    QProcess process;
};

} // namespace

class TrayUnderXvfbTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "needs a D-Bus session (dbus-run-session)");
        host.start();
        host.ready.acquire();
        QVERIFY(host.registered);
        stillStyle();
    }

    void cleanupTestCase() {
        host.quit();
        host.wait();
    }

    void iconRegistersWithItsMenuAndActivates() {
        QVERIFY(QSystemTrayIcon::isSystemTrayAvailable());
        UiRig rig;
        rig.account(true, 44, {"Амстердам", "Рига"});
        int raised = 0;
        MenuBarView menu(
            *rig.model, rig.tunnel(), rig.desktop, rig.service().origin(), [&] { ++raised; }, [] {});
        Tray tray(menu, rig.tunnel(), [&] { ++raised; });
        QVERIFY(tray.check());
        QTRY_COMPARE_WITH_TIMEOUT(host.watcher->items().size(), 1, 20000);
        // Plain asynchronous calls: the item answers on this very thread.
        const TrayItem item{host.watcher->items().first().section(u'/', 0, 0)};
        const QStringList labels = item.entries().keys();
        for (const QString entry : {"Отключено", "Подключить · Амстердам", "Сервер", "✓ Амстердам", "Рига",
                                    "Открыть Вемко", "Личный кабинет", "Выйти из программы"})
            QVERIFY2(labels.contains(entry), qPrintable(entry + " not in " + labels.join(" | ")));
        item.call("/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate", {0, 0});
        QTRY_COMPARE_WITH_TIMEOUT(raised, 1, 20000);
    }

    // The window open and the tray there: "Выйти из программы" ends the process.
    void quitFromTheMenuEndsTheApp() {
        QTemporaryDir dir;
        TestService service;
        const qsizetype before = host.watcher->items().size();
        AppProcess app(dir, service);
        QTRY_VERIFY_WITH_TIMEOUT(host.watcher->items().size() > before, 60000);
        const TrayItem item{host.watcher->items().last().section(u'/', 0, 0)};
        QTRY_VERIFY_WITH_TIMEOUT(item.entries().contains("Выйти из программы"), 20000);
        item.click("Выйти из программы");
        QTRY_COMPARE_WITH_TIMEOUT(app.process.state(), QProcess::NotRunning, 30000);
        QCOMPARE(app.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.process.exitCode(), 0);
    }

    // An automatic update with the tray there: the app quits for the install script, which swaps
    // the installed AppDir and starts the new one.
    void updateQuitsAndRelaunches() {
        using namespace bundlekit;
        QTemporaryDir dir;
        TestService service;
        // The running copy carries its own release key next to it, as an installed AppDir does.
        const QString bin = dir.filePath("app/bin");
        QVERIFY(QDir().mkpath(bin));
        const QString build = qEnvironmentVariable("VEMKO_BUILD_DIR") + "/bin/";
        for (const QString tool : {"vemko-vpn", "vemko-codesign"})
            QVERIFY(QFile::copy(build + tool, bin + '/' + tool));
        const KeyPair key = makeKeyPair(dir.path(), "release");
        QVERIFY(QFile::copy(key.publicPem, bin + "/vemko-update-key.pem"));
        const QString marker = dir.filePath("launched");
        makeBundle(dir.filePath("staging/Vemko VPN.AppDir"), "2.0", marker);
        QCOMPARE(codesign("sign", key.privatePem, dir.filePath("staging/Vemko VPN.AppDir")), 0);
        service.on("GET", "/update.zip",
                   ScriptedReply::text(200, zipFolder(dir.filePath("staging"), dir.filePath("update.zip"))));
        service.on("GET", "/api/v1/app/version",
                   ScriptedReply::json(200, QJsonObject{{"version_code", 1'000'000},
                                                        {"version_name", "2.0"},
                                                        {"url", service.origin() + "/update.zip"},
                                                        {"notes", ""}}));

        AppProcess app(dir, service, bin + "/vemko-vpn");
        QTRY_COMPARE_WITH_TIMEOUT(app.process.state(), QProcess::NotRunning, 90000);
        QCOMPARE(app.process.exitCode(), 0);
        const QString installed = dir.filePath("HOME/.local/opt/Vemko VPN.AppDir");
        QTRY_COMPARE_WITH_TIMEOUT(readFile(marker), "2.0 " + (installed + "/AppRun\n").toUtf8(), 30000);
    }

private:
    HostThread host;
};

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    TrayUnderXvfbTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "xvfb_tray.moc"
