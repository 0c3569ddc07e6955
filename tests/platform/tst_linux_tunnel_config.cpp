// The saved tunnel configuration file behind LinuxTunnelSystem / LinuxTunnelManager.
#include "platform/LinuxTunnelSystem.h"
#include "platform/PlatformError.h"
#include "support/Drive.h"
#include "support/FileChecks.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

namespace {

void fill(TunnelManager& manager, const QString& document, const QString& server) {
    manager.protocolConfiguration = TunnelProtocol{
        "app.vemko.vpn.tunnel", server, QJsonObject{{"config", document}, {"server", server}}, true};
    manager.localizedDescription = "Vemko VPN";
    manager.isEnabled = true;
}

} // namespace

class LinuxTunnelConfigTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<LinuxTunnelSystem> m_system;

    QString configFile() const { return m_dir->path() + "/config/vemko-vpn/tunnel.json"; }
    std::vector<std::shared_ptr<TunnelManager>> loadAll() { return runTask(m_system->loadAll()).value(); }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir->path() + "/config"));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir->path() + "/run"));
        m_system = std::make_unique<LinuxTunnelSystem>("/nonexistent/vemko-tunnel");
    }
    void cleanup() {
        m_system.reset();
        m_dir.reset();
    }

    void savedConfigurationRoundTrips() {
        QVERIFY(loadAll().empty());
        auto manager = m_system->create();
        QVERIFY(!manager->connection()); // never saved: nothing to start
        fill(*manager, R"({"outbounds":[{"protocol":"vless"}]})", "Нидерланды");
        QVERIFY(runTask(manager->save()));
        QVERIFY(manager->connection());

        const auto loaded = loadAll();
        QCOMPARE(loaded.size(), size_t(1));
        const TunnelManager& again = *loaded.front();
        QVERIFY(again.protocolConfiguration);
        QCOMPARE(again.protocolConfiguration->providerBundleIdentifier, "app.vemko.vpn.tunnel");
        QCOMPARE(again.protocolConfiguration->serverAddress, "Нидерланды");
        QCOMPARE(
            again.protocolConfiguration->providerConfiguration,
            (QJsonObject{{"config", R"({"outbounds":[{"protocol":"vless"}]})"}, {"server", "Нидерланды"}}));
        QVERIFY(again.protocolConfiguration->excludeLocalNetworks);
        QCOMPARE(again.localizedDescription, "Vemko VPN");
        QVERIFY(again.isEnabled);
        // One tunnel, one connection, whichever manager hands it out.
        QCOMPARE(loaded.front()->connection(), manager->connection());
        QCOMPARE(loaded.front()->connection(), &m_system->connection());
    }

    void loadRereadsWhatIsSaved() {
        auto first = m_system->create();
        fill(*first, "{}", "A");
        QVERIFY(runTask(first->save()));
        auto second = loadAll().front();
        fill(*first, R"({"log":{}})", "B");
        QVERIFY(runTask(first->save()));
        QVERIFY(runTask(second->load()));
        QCOMPARE(second->protocolConfiguration->serverAddress, "B");

        QVERIFY(writeFile(configFile(), "{broken"));
        QVERIFY_THROWS_EXCEPTION(PlatformError, runTask(second->load()));
        QFile::remove(configFile());
        QVERIFY_THROWS_EXCEPTION(PlatformError, runTask(second->load()));
    }

    void saveTightensAnOpenFile() {
        QVERIFY(writeFile(configFile(), "{}"));
        QFile::setPermissions(configFile(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
        auto manager = m_system->create();
        fill(*manager, R"({"secret":"x"})", "A");
        QVERIFY(runTask(manager->save()));
        QCOMPARE(modeOf(configFile()), 0600);
    }

    void failedSaveKeepsTheOldFile() {
        auto manager = m_system->create();
        fill(*manager, R"({"outbounds":[]})", "Old");
        QVERIFY(runTask(manager->save()));
        const QByteArray old = readAll(configFile());

        fill(*manager, QString(4096, 'x'), "New");
        {
            const FileSizeLimit limit(1024);
            QVERIFY_THROWS_EXCEPTION(PlatformError, runTask(manager->save()));
        }
        QCOMPARE(readAll(configFile()), old);

        if (::getuid() != 0) { // root writes into read-only folders anyway
            QFile::setPermissions(QFileInfo(configFile()).path(),
                                  QFileDevice::ReadOwner | QFileDevice::ExeOwner);
            QVERIFY_THROWS_EXCEPTION(PlatformError, runTask(manager->save()));
            QFile::setPermissions(QFileInfo(configFile()).path(),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            QCOMPARE(readAll(configFile()), old);
        }
        QCOMPARE(QDir(QFileInfo(configFile()).path()).entryList(QDir::Files), QStringList{"tunnel.json"});
    }

    void unreadableFilesLoadAsNothing_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not JSON") << QByteArray("{\"protocolConfiguration\":");
        QTest::newRow("a list") << QByteArray("[]");
        QTest::newRow("binary") << QByteArray("\x00\xff\xfe", 3);
        QTest::newRow("empty") << QByteArray();
    }
    void unreadableFilesLoadAsNothing() {
        QFETCH(QByteArray, content);
        QVERIFY(writeFile(configFile(), content));
        QVERIFY(loadAll().empty());
    }

    void oddMembersReadAsEmpty() {
        QVERIFY(writeFile(configFile(), R"({"protocolConfiguration":"text","localizedDescription":5})"));
        const auto loaded = loadAll();
        QCOMPARE(loaded.size(), size_t(1));
        QVERIFY(!loaded.front()->protocolConfiguration);
        QCOMPARE(loaded.front()->localizedDescription, QString());
    }

    void connectionStartsOnlyWhatItCanLaunch() {
        QCOMPARE(m_system->connection().status(), TunnelStatus::Disconnected);
        QVERIFY(!m_system->connection().connectedDate());
        // A host that cannot be launched is an error, not a silent no-op.
        auto manager = m_system->create();
        fill(*manager, "{}", "A");
        QVERIFY(runTask(manager->save()));
        QVERIFY_THROWS_EXCEPTION(PlatformError, manager->connection()->start(QJsonObject{{"config", "{}"}}));
        QVERIFY_THROWS_EXCEPTION(PlatformError, manager->connection()->start(QJsonObject{{"config", 5}}));
        manager->connection()->stop(); // nothing runs: harmless
    }
};

QTEST_GUILESS_MAIN(LinuxTunnelConfigTest)
#include "tst_linux_tunnel_config.moc"
