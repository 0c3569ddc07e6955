// vemko-tunnel with the real engine, driven through the Linux tunnel platform classes.
#include "EngineFixture.h"
#include "platform/LinuxTunnelSystem.h"
#include "platform/TunnelHostState.h"
#include "support/Drive.h"
#include "support/FileChecks.h"
#include "support/TestService.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace engine_fixture;

class HostEngineTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<V2rayServer> m_server;
    std::unique_ptr<TestService> m_http;
    const QByteArray m_body = R"({"exit":"through the tunnel"})";
    std::unique_ptr<LinuxTunnelSystem> m_system;
    QList<TunnelStatus> m_seen;

    LinuxTunnelConnection& connection() { return m_system->connection(); }
    QString runtimeDir() const { return m_home.path() + "/run/vemko-vpn"; }

    void saveAndStart(const QString& document, bool withOptions = true) {
        auto manager = m_system->create();
        manager->protocolConfiguration = TunnelProtocol{
            "app.vemko.vpn.tunnel", "Test", QJsonObject{{"config", document}, {"server", "Test"}}, true};
        manager->localizedDescription = "Vemko VPN";
        manager->isEnabled = true;
        QVERIFY(runTask(manager->save()));
        QVERIFY(manager->connection());
        manager->connection()->start(withOptions ? QJsonObject{{"config", document}} : QJsonObject{});
    }

    // Starts the plain client document and waits until it is connected.
    void connectPlain() {
        saveAndStart(text(clientDocument(*m_server)));
        QTRY_COMPARE_WITH_TIMEOUT(connection().status(), TunnelStatus::Connected, 20000);
    }

    qint64 hostPid() { return HostFiles::readState(runtimeDir()).value_or(HostState{}).pid; }

    static bool hasCapability(const QString& path) {
        return ::getxattr(QFile::encodeName(path).constData(), "security.capability", nullptr, 0) >= 0;
    }

    // The engine found the document asking for a debug log and an access log file: neither
    // happens, and nothing our own readiness checks cause (connections to the port) is logged.
    void verifyQuietLog() {
        QVERIFY(!QFile::exists(m_home.path() + "/visited.log"));
        const QByteArray log = readAll(HostFiles::logFile(runtimeDir()));
        for (const char* noise : {"[Debug]", "accepted", "insufficient header", "rejected"})
            QVERIFY2(!log.contains(noise), log.constData());
    }

    // The client document with the engine log settings a careless server might send.
    QString chattyDocument() const {
        QJsonObject document = clientDocument(*m_server);
        document.insert("log",
                        QJsonObject{{"loglevel", "debug"}, {"access", m_home.path() + "/visited.log"}});
        return text(document);
    }

private slots:
    void initTestCase() {
        if (QStandardPaths::findExecutable("v2ray").isEmpty())
            QSKIP("the v2ray engine is not installed");
        const QString host = qEnvironmentVariable("VEMKO_BUILD_DIR") + "/bin/vemko-tunnel";
        QVERIFY2(QFileInfo(host).isExecutable(), qPrintable(host));
        QVERIFY(m_home.isValid());
        QDir(m_home.path()).mkpath("run");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_home.path() + "/run"));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path() + "/config"));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_home.path() + "/cache"));
        qputenv("VEMKO_TUNNEL_HOST", QFile::encodeName(host));
        qunsetenv("VEMKO_ENGINE");
        if (!hasCapability(QStandardPaths::findExecutable("v2ray")))
            qWarning("v2ray carries no file capability here (getcap): the engine runs as installed, "
                     "its private copy is not exercised");
        m_server = std::make_unique<V2rayServer>();
        QTRY_VERIFY_WITH_TIMEOUT(m_server->ready(), 20000);
        m_http = std::make_unique<TestService>();
        m_http->on("GET", "/api/v1/ip", ScriptedReply::text(200, m_body));
    }

    void init() {
        QVERIFY2(!portAccepts(10808), "port 10808 is in use by something else");
        m_system = std::make_unique<LinuxTunnelSystem>();
        m_seen.clear();
        connect(m_system.get(), &TunnelSystem::statusChanged, this,
                [this] { m_seen << connection().status(); });
    }

    void cleanup() {
        qunsetenv("VEMKO_ENGINE");
        if (m_system) {
            connection().stop();
            QTRY_VERIFY_WITH_TIMEOUT(!HostFiles::hostRunning(runtimeDir()), 20000);
        }
        m_system.reset();
    }

    void connectsCarriesTrafficAndStopsCleanly() {
        // A descriptor of the app that is not close-on-exec must still not reach the host.
        const QString probe = m_home.path() + "/app-descriptor";
        const int appFd = ::open(QFile::encodeName(probe).constData(), O_CREAT | O_WRONLY, 0600);
        QVERIFY(appFd >= 0);
        saveAndStart(chattyDocument());
        ::close(appFd);
        QCOMPARE(connection().status(), TunnelStatus::Connecting);
        QTRY_COMPARE_WITH_TIMEOUT(connection().status(), TunnelStatus::Connected, 20000);
        QVERIFY(m_seen.contains(TunnelStatus::Connecting));
        QVERIFY(connection().connectedDate().has_value());

        QCOMPARE(getThroughTunnel(QUrl(m_http->origin() + "/api/v1/ip")), m_body);

        // The server credentials are on no command line and in no file of the runtime folder.
        const qint64 host = hostPid();
        const QList<qint64> engines = childProcesses(host);
        QCOMPARE(engines.size(), 1);
        // An engine binary with a file capability (Debian's) runs from a private copy without one.
        const QString installed = QStandardPaths::findExecutable("v2ray");
        const QString running = QFileInfo(QString("/proc/%1/exe").arg(engines[0])).symLinkTarget();
        if (hasCapability(installed)) {
            QCOMPARE(running, m_home.path() + "/cache/vemko-vpn/v2ray");
            QVERIFY(!hasCapability(running));
            QCOMPARE(modeOf(m_home.path() + "/cache/vemko-vpn"), 0700);
            QCOMPARE(modeOf(running), 0700);
            QCOMPARE(QFileInfo(running).size(), QFileInfo(installed).size());
        } else {
            QCOMPARE(running, QFileInfo(installed).canonicalFilePath());
        }
        verifyQuietLog();
        for (qint64 pid : {host, engines[0]})
            QVERIFY(!readAll(QString("/proc/%1/cmdline").arg(pid)).contains(m_server->uuid().toUtf8()));
        for (const QString& name : QDir(runtimeDir()).entryList(QDir::Files))
            QVERIFY2(!readAll(runtimeDir() + '/' + name).contains(m_server->uuid().toUtf8()),
                     qPrintable(name));
        QCOMPARE(modeOf(runtimeDir()), 0700);
        QCOMPARE(modeOf(HostFiles::logFile(runtimeDir())), 0600);
        // Its own session (no terminal signal of the app reaches it), nothing of the app's open.
        QCOMPARE(qint64(::getsid(pid_t(host))), host);
        for (const QFileInfo& fd : QDir(QString("/proc/%1/fd").arg(host)).entryInfoList(QDir::System))
            QVERIFY2(fd.symLinkTarget() != probe, qPrintable(fd.filePath()));

        connection().stop();
        // Disconnecting at once, unless the host has already finished its stop (it can: it takes
        // about a millisecond).
        QVERIFY2(connection().status() == TunnelStatus::Disconnecting ||
                     connection().status() == TunnelStatus::Disconnected,
                 qPrintable(QString::number(int(connection().status()))));
        QTRY_COMPARE_WITH_TIMEOUT(connection().status(), TunnelStatus::Disconnected, 20000);
        QVERIFY(!connection().connectedDate());
        QTRY_VERIFY_WITH_TIMEOUT(processGone(engines[0]), 20000);
        // The app started the host, so the app collects it: not even a zombie stays behind.
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(QString("/proc/%1").arg(host)), 20000);
        QCOMPARE(HostFiles::readState(runtimeDir())->phase, HostState::Phase::Disconnected);
        QVERIFY(!QFile::exists(HostFiles::pidFile(runtimeDir())));
    }

    // Also as an ordinary user with the packaged engine and its file capability: the engine dies
    // with the host, the port is free again and the next connect works.
    void killedHostReadsDisconnectedAndTakesTheEngine() {
        saveAndStart(chattyDocument());
        QTRY_COMPARE_WITH_TIMEOUT(connection().status(), TunnelStatus::Connected, 20000);
        const qint64 host = hostPid();
        const QList<qint64> engines = childProcesses(host);
        QCOMPARE(engines.size(), 1);

        ::kill(static_cast<pid_t>(host), SIGKILL);
        // The status file still says connected; the liveness check must see through it.
        QTRY_COMPARE_WITH_TIMEOUT(connection().status(), TunnelStatus::Disconnected, 20000);
        QCOMPARE(HostFiles::readState(runtimeDir())->phase, HostState::Phase::Connected);
        QTRY_VERIFY_WITH_TIMEOUT(processGone(engines[0]), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!portAccepts(10808), 20000);

        saveAndStart(chattyDocument());
        QTRY_COMPARE_WITH_TIMEOUT(connection().status(), TunnelStatus::Connected, 20000);
        QCOMPARE(getThroughTunnel(QUrl(m_http->origin() + "/api/v1/ip")), m_body);
        verifyQuietLog();
    }

    // A changed installed engine is copied again; an unchanged one is not.
    void engineCopyFollowsTheInstalledBinary() {
        if (!hasCapability(QStandardPaths::findExecutable("v2ray")))
            QSKIP("the installed engine carries no file capability: it runs as it is");
        const QByteArray copy = QFile::encodeName(m_home.path() + "/cache/vemko-vpn/v2ray");
        struct stat before {
        }, same{}, after{};
        for (struct stat* run : {&before, &same, &after}) {
            if (run == &after) { // a copy that no longer matches (an upgraded package looks like this)
                const timespec old[2] = {{1, 0}, {1, 0}};
                QCOMPARE(::utimensat(AT_FDCWD, copy.constData(), old, 0), 0);
            }
            connectPlain();
            QCOMPARE(::stat(copy.constData(), run), 0);
            connection().stop();
            QTRY_VERIFY_WITH_TIMEOUT(!HostFiles::hostRunning(runtimeDir()), 20000);
        }
        QCOMPARE(same.st_ino, before.st_ino); // unchanged: the same copy started again
        QVERIFY(after.st_ino != before.st_ino && after.st_mtim.tv_sec != 1);
    }

    // The host ends disconnected with the engine's reason and never reports connected.
    void failedStartsEndDisconnected_data() {
        QTest::addColumn<QString>("document"); // "" = a working client document
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QString>("reason");
        const auto row = [](const char* tag, const char* document, const char* engine, const char* reason) {
            QTest::newRow(tag) << QString(document) << QString(engine) << QString(reason);
        };
        row("port taken", "", "", "address already in use");
        row("engine missing", "", "/nonexistent/v2ray", "/nonexistent/v2ray");
        row("a server v2ray cannot run",
            R"({"outbounds":[{"protocol":"vless","settings":{"vnext":[{"address":"127.0.0.1","port":9,"users":)"
            R"([{"id":"u"}]}]},"streamSettings":{"security":"reality","realitySettings":{"publicKey":"k"}}}]})",
            "", "нужен Xray: REALITY");
        row("not JSON", "not a document", "", "документ не JSON");
        row("JSON list", "[1,2]", "", "настройки сервера не объект JSON");
    }
    void failedStartsEndDisconnected() {
        QFETCH(QString, document);
        QFETCH(QString, engine);
        QFETCH(QString, reason);
        QTcpServer squatter; // accepts connections on the port, but it is not our engine
        if (QByteArray(QTest::currentDataTag()) == "port taken")
            QVERIFY(squatter.listen(QHostAddress::LocalHost, 10808));
        if (!engine.isEmpty())
            qputenv("VEMKO_ENGINE", engine.toUtf8());
        saveAndStart(document.isEmpty() ? text(clientDocument(*m_server)) : document);
        QTRY_VERIFY_WITH_TIMEOUT(!HostFiles::hostRunning(runtimeDir()) &&
                                     connection().status() == TunnelStatus::Disconnected,
                                 20000);
        QVERIFY(!m_seen.contains(TunnelStatus::Connected));
        const HostState state = *HostFiles::readState(runtimeDir());
        QCOMPARE(state.phase, HostState::Phase::Disconnected);
        QVERIFY2(state.reason.contains(reason), qPrintable(state.reason));
        QVERIFY(readAll(HostFiles::logFile(runtimeDir())).contains(reason.toUtf8()));
    }

    // Xray is run its own way: "run -config stdin:" with the input closed, its assets variable set
    // to its folder, the document in its spelling. A stand-in answers as Xray and runs v2ray.
    void runsXrayItsWay() {
        const QString folder = m_home.path() + "/xray";
        QDir().mkpath(folder);
        QVERIFY(QFile::copy(VEMKO_TESTS_SOURCE_DIR "/support/xray-stand-in", folder + "/xray"));
        QVERIFY(QFile::copy(QStandardPaths::findExecutable("v2ray"), folder + "/v2ray")); // no capability
        QFile(folder + "/geoip.dat").open(QIODevice::WriteOnly);
        qputenv("VEMKO_ENGINE", QFile::encodeName(folder + "/xray"));
        qputenv("XRAY_STAND_IN_V2RAY", QFile::encodeName(folder + "/v2ray"));
        qputenv("XRAY_STAND_IN_LOG", QFile::encodeName(folder + "/asked"));
        connectPlain();
        QCOMPARE(getThroughTunnel(QUrl(m_http->origin() + "/api/v1/ip")), m_body);
        const QByteArray asked = readAll(folder + "/asked");
        QVERIFY2(
            asked.startsWith("arguments: run -config stdin:\nassets: " + QFile::encodeName(folder) + "\n"),
            asked.constData());
        QVERIFY(asked.contains(R"("destOverride":["http","tls","quic"])"));
        QVERIFY(readAll(HostFiles::logFile(runtimeDir())).contains("started Xray 25.12.8"));
    }

    // Traps in the runtime folder: a FIFO as the status and the lock file would hang the app, a
    // link as the log would have the host overwrite its target. None of them is followed.
    void runtimeFolderTrapsAreNotFollowed() {
        QDir().mkpath(runtimeDir());
        const QString victim = m_home.path() + "/victim";
        QFile file(victim);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("keep me") == 7);
        file.close();
        for (const QString& name : {HostFiles::statusFile(runtimeDir()), HostFiles::lockFile(runtimeDir()),
                                    HostFiles::logFile(runtimeDir())})
            QFile::remove(name);
        QCOMPARE(::mkfifo(QFile::encodeName(HostFiles::statusFile(runtimeDir())).constData(), 0600), 0);
        QCOMPARE(::mkfifo(QFile::encodeName(HostFiles::lockFile(runtimeDir())).constData(), 0600), 0);
        QVERIFY(QFile::link(victim, HostFiles::logFile(runtimeDir())));
        LinuxTunnelSystem fresh; // reads the status at once: a FIFO must not block it
        QCOMPARE(fresh.connection().status(), TunnelStatus::Disconnected);
        QVERIFY(!HostFiles::hostRunning(runtimeDir()));

        connectPlain();
        QCOMPARE(readAll(victim), QByteArray("keep me"));
        QVERIFY(!QFileInfo(HostFiles::logFile(runtimeDir())).isSymLink());
        connection().stop();
        QTRY_COMPARE_WITH_TIMEOUT(connection().status(), TunnelStatus::Disconnected, 20000);
    }

    // A host that cannot write its state (a full runtime folder reads the same) runs no tunnel
    // the app cannot see: it stops the engine and ends with the reason in its log.
    void hostThatCannotWriteItsStateEnds() {
        QDir().mkpath(runtimeDir());
        QFile::remove(HostFiles::statusFile(runtimeDir()));
        QVERIFY(QDir().mkpath(HostFiles::statusFile(runtimeDir()) + "/occupied"));
        saveAndStart(text(clientDocument(*m_server)));
        QTRY_VERIFY_WITH_TIMEOUT(!HostFiles::hostRunning(runtimeDir()) &&
                                     connection().status() == TunnelStatus::Disconnected,
                                 20000);
        QVERIFY(!m_seen.contains(TunnelStatus::Connected));
        QVERIFY(readAll(HostFiles::logFile(runtimeDir())).contains("cannot write the status file"));
        QTRY_VERIFY_WITH_TIMEOUT(!portAccepts(10808), 20000);
        QVERIFY(QDir(HostFiles::statusFile(runtimeDir())).removeRecursively());
    }

    // A second start replaces the running host; without options it runs the saved document.
    void secondStartReplacesTheFirstHost() {
        connectPlain();
        const qint64 firstHost = hostPid();
        const QList<qint64> firstEngines = childProcesses(firstHost);

        QJsonObject second = clientDocument(*m_server);
        second.insert("remarks", "second");
        saveAndStart(text(second), false);
        QCOMPARE(connection().status(), TunnelStatus::Connecting);
        QTRY_VERIFY_WITH_TIMEOUT(hostPid() != firstHost && connection().status() == TunnelStatus::Connected,
                                 20000);
        QTRY_VERIFY_WITH_TIMEOUT(processGone(firstHost), 20000);
        for (qint64 engine : firstEngines)
            QTRY_VERIFY_WITH_TIMEOUT(processGone(engine), 20000);
        QCOMPARE(childProcesses(hostPid()).size(), 1);
        QCOMPARE(getThroughTunnel(QUrl(m_http->origin() + "/api/v1/ip")), m_body);
    }
};

QTEST_GUILESS_MAIN(HostEngineTest)
#include "tst_host_engine.moc"
