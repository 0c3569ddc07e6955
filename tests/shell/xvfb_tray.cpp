// The real tray: under Xvfb with a private D-Bus session (see tests/CMakeLists.txt), a minimal
// StatusNotifierWatcher stands in for the desktop's tray host. The app's icon registers with it,
// its exported menu holds the entries, and an Activate call raises the window.

#include "MenuBarView.h"
#include "Tray.h"
#include "screens/UiRig.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QMutex>
#include <QSemaphore>
#include <QSystemTrayIcon>
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
            bus.registerService("org.kde.StatusNotifierWatcher");
        watcher = &host;
        ready.release();
        exec();
        watcher = nullptr;
        QDBusConnection::disconnectFromBus("tray-host");
    }
};

namespace {

void collectLabels(const QDBusArgument& item, QStringList& labels) {
    item.beginStructure();
    int id = 0;
    QVariantMap properties;
    item >> id >> properties;
    if (properties.contains("label"))
        labels.append(properties.value("label").toString());
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
    QTest::qWaitFor([&] { return watcher.isFinished(); }, 20000);
    return watcher.reply();
}

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
        const QString item = host.watcher->items().first().section(u'/', 0, 0);

        // Plain asynchronous calls: the item answers on this very thread.
        const auto call = [&](const QString& path, const QString& interface, const QString& method,
                              const QVariantList& arguments) {
            QDBusMessage message = QDBusMessage::createMethodCall(item, path, interface, method);
            message.setArguments(arguments);
            return await(QDBusConnection::sessionBus().asyncCall(message));
        };
        const QDBusMessage menuPath = call("/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                                           {"org.kde.StatusNotifierItem", "Menu"});
        QCOMPARE(menuPath.type(), QDBusMessage::ReplyMessage);
        const QString path =
            menuPath.arguments().first().value<QDBusVariant>().variant().value<QDBusObjectPath>().path();

        const QDBusMessage reply =
            call(path, "com.canonical.dbusmenu", "GetLayout", {0, -1, QStringList{"label"}});
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QStringList labels;
        collectLabels(reply.arguments().at(1).value<QDBusArgument>(), labels);
        for (const QString entry : {"Отключено", "Подключить · Амстердам", "Сервер", "✓ Амстердам", "Рига",
                                    "Открыть Вемко", "Личный кабинет", "Выйти из программы"})
            QVERIFY2(labels.contains(entry), qPrintable(entry + " not in " + labels.join(" | ")));

        call("/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate", {0, 0});
        QTRY_COMPARE_WITH_TIMEOUT(raised, 1, 20000);
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
