// vemko-netd for real, as root, inside the test network: traffic, DNS and IPv6 of a plain client
// program, leaks counted on the router, the kill switch, fail-over, and what the helper refuses.
#include "netd/Ports.h"
#include "support/NetnsTopology.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <sys/stat.h>

using namespace NetnsTopology;

namespace {

QString helper() {
    return qEnvironmentVariable("VEMKO_BUILD_DIR") + "/bin/vemko-netd";
}

Result vemkoNetd(const QStringList& arguments, const QByteArray& input = {}) {
    return run(QStringList{helper()} + arguments, input);
}

QString status() {
    return QString::fromUtf8(vemkoNetd({"status"}).out).trimmed();
}

bool tablePresent() {
    return run({"nft", "list", "table", "inet", "vemko"}).exitCode == 0;
}

QString procField(qint64 pid, const QString& field) {
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith(field.toUtf8() + ':'))
            return QString::fromUtf8(line.mid(field.size() + 1)).trimmed();
    return {};
}

unsigned mode(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 0777 : 0;
}

QString dig(const QStringList& arguments, const QString& ns = client) {
    return QString::fromUtf8(run(QStringList{"dig", "+short", "+time=2", "+tries=1"} + arguments, {}, ns).out)
        .trimmed();
}

} // namespace

class NetdNamespaces : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (const auto why = unavailable())
            QSKIP(qPrintable(*why));
        QVERIFY2(QFileInfo(helper()).isExecutable(), qPrintable(helper()));
        QVERIFY(ensureEngineUser());
        QString message;
        QVERIFY2(up(&message), qPrintable(message));
    }
    void cleanupTestCase() {
        if (!unavailable()) {
            vemkoNetd({"down"});
            down();
        }
    }

    void refusesAnythingButItsVerbs_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("none") << QStringList{};
        QTest::newRow("unknown verb") << QStringList{"start"};
        QTest::newRow("extra argument") << QStringList{"up", "--evil"};
        QTest::newRow("a path") << QStringList{"up", "/etc/shadow"};
        QTest::newRow("status with more") << QStringList{"status", "x"};
    }
    void refusesAnythingButItsVerbs() {
        QFETCH(QStringList, arguments);
        const Result result = vemkoNetd(arguments, clientDocument());
        QCOMPARE(result.exitCode, 2);
        QVERIFY(!tablePresent());
    }

    void refusesDocuments_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::newRow("a server v2ray cannot run") << clientDocument().replace(
            "\"tag\":\"proxy\"", "\"tag\":\"proxy\",\"streamSettings\":{\"security\":\"reality\","
                                 "\"realitySettings\":{\"publicKey\":\"k\"}}");
        QTest::newRow("no server and no inbounds") << QByteArray(R"({"outbounds":[{"protocol":"freedom"}]})");
        QTest::newRow("120,000 levels deep") << QByteArray(120000, '[');
        QTest::newRow("not JSON") << QByteArray("{\"inbounds\": [");
        QTest::newRow("too large") << QByteArray(300 * 1024, ' ') + clientDocument();
    }
    void refusesDocuments() {
        QFETCH(QByteArray, document);
        const Result result = vemkoNetd({"up"}, document);
        QCOMPARE(result.exitCode, 3);
        QVERIFY2(result.err.contains("document refused"), result.err.constData());
        QVERIFY(!tablePresent());
        QCOMPARE(status(), QStringLiteral("down"));
    }

    // On a machine where avahi holds UDP 5353 and another program the preferred redirect port, with
    // an on-link route a DHCP server pushed (TunnelVision) and two overlapping subnets on the LAN
    // interface: everything still goes through the tunnel.
    void carriesEverythingThroughTheTunnel() {
        m_squatters.start(
            "ip", {"netns", "exec", client, "sh", "-c",
                   QStringLiteral("socat -u UDP4-RECV:5353,reuseaddr,reuseport /dev/null & exec socat "
                                  "TCP4-LISTEN:%1,bind=127.0.0.1,reuseport,fork SYSTEM:'echo squatter'")
                       .arg(netd::preferredPorts.redirect)});
        QTRY_VERIFY_WITH_TIMEOUT(
            run({"ss", "-lntu"}).out.contains(":5353 ") &&
                run({"ss", "-lntu"}).out.contains(QByteArray::number(netd::preferredPorts.redirect)),
            20000);
        QCOMPARE(run({"ip", "route", "add", "10.203.0.0/24", "dev", "vkc0", "proto", "dhcp"}).exitCode, 0);
        QCOMPARE(run({"ip", "addr", "add", "10.201.0.130/25", "dev", "vkc0"}).exitCode, 0);
        // The caller asks for a SOCKS entry open to the LAN: the engine never listens beyond loopback.
        const Result started = vemkoNetd({"up"}, clientDocument(vpnServer1, "0.0.0.0"));
        QVERIFY2(started.exitCode == 0, started.err.constData());
        QCOMPARE(status(), QStringLiteral("up"));
        const QByteArray listeners = run({"ss", "-ltnuH"}).out;
        QVERIFY2(!listeners.contains("0.0.0.0:10808") && !listeners.contains("*:10808"),
                 listeners.constData());

        // The engine: its own user, no capability in any set, no new privileges.
        const qint64 pid = helperEnginePid();
        QVERIFY(pid > 0);
        QVERIFY(procField(pid, "Uid")
                    .startsWith(run({"id", "-u", "vemko-engine"}, {}, std::nullopt).out.trimmed()));
        for (const char* set : {"CapPrm", "CapEff", "CapBnd", "CapAmb"})
            QCOMPARE(procField(pid, set), QStringLiteral("0000000000000000"));
        QCOMPARE(procField(pid, "NoNewPrivs"), QStringLiteral("1"));
        // Its document (the server's credentials) is in no folder; the helper's files are root's
        // alone, the published status holds no secret.
        QVERIFY(QFileInfo(QStringLiteral("/proc/%1/fd/0").arg(pid)).symLinkTarget().contains("memfd:"));
        QCOMPARE(mode(helperStateFolder()), 0700u);
        for (const QString& file : QDir(helperStateFolder()).entryList(QDir::Files))
            QCOMPARE(mode(helperStateFolder() + "/" + file), 0600u);
        QCOMPARE(mode(helperStateFolder() + ".status"), 0644u);

        reset();
        const QString viaVpn = QStringLiteral("server=%1 peer=%2").arg(httpHost, vpnServer1);
        QCOMPARE(curl({"http://" + httpHost + "/"}), viaVpn);
        QCOMPARE(curl({"http://example.test/"}), viaVpn); // the name through the LAN resolver
        QCOMPARE(curl({"-x", "socks5h://127.0.0.1:10808", "http://" + httpHost + "/"}), viaVpn);
        QCOMPARE(curl({"http://dual.test/"}), viaVpn); // A and AAAA: falls back to IPv4 at once
        QCOMPARE(dig({"@" + publicResolver, "example.test"}), httpHost);
        QCOMPARE(dig({"example.test"}), httpHost); // resolv.conf: the LAN resolver
        QCOMPARE(dig({"+tcp", "@" + publicResolver, "example.test"}), httpHost);
        // IPv6 and other UDP are refused at once, not sent.
        const Result v6 = run({"curl", "-sS", "-m", "5", "-6", "http://[fd00:203::1]/"});
        QCOMPARE(v6.exitCode, 7); // refused (7), not timed out (28)
        QVERIFY(dig({"-p", "7777", "@" + httpHost, "example.test"}).contains("unreachable"));

        const QByteArray resolverLog = publicResolverLog();
        QVERIFY2(resolverLog.contains("from " + vpnServer1.toUtf8()), resolverLog.constData());
        QVERIFY2(!resolverLog.contains("from " + clientAddress.toUtf8()), resolverLog.constData());
        QCOMPARE(counter("lan_dns"), 0);
        QCOMPARE(counter("leak4"), 0);
        QCOMPARE(counter("leak6"), 0);
        QVERIFY(counter("tunnel") > 0);
    }

    // A container behind this machine's bridge (masqueraded, as Docker does): its TCP and DNS go
    // through the tunnel too, anything else it sends is refused at once, nothing leaks.
    void carriesContainersToo() {
        reset();
        QCOMPARE(curl({"http://" + httpHost + "/"}, container),
                 QStringLiteral("server=%1 peer=%2").arg(httpHost, vpnServer1));
        QCOMPARE(dig({"@" + publicResolver, "example.test"}, container), httpHost);
        QVERIFY(dig({"-p", "7777", "@" + httpHost, "example.test"}, container).contains("unreachable"));
        QCOMPARE(counter("leak4"), 0);
        QCOMPARE(counter("lan_dns"), 0);
    }

    // The next candidate needs no rule change: the engine is known by its user id.
    void failsOverToTheNextServer() {
        const Result started = vemkoNetd({"up"}, clientDocument(vpnServer2));
        QVERIFY2(started.exitCode == 0, started.err.constData());
        reset();
        QCOMPARE(curl({"http://example.test/"}),
                 QStringLiteral("server=%1 peer=%2").arg(httpHost, vpnServer2));
        QCOMPARE(counter("leak4"), 0);
        QCOMPARE(status(), QStringLiteral("up"));
    }

    // A firewall reload ("nft flush ruleset") while programs are busy: the supervisor's own table
    // keeps refusing while it puts the rules back, nothing leaves and the tunnel stays up.
    void aFlushedRulesetComesBackWithoutALeak() {
        reset();
        QProcess load;
        load.start("ip", {"netns", "exec", client, "sh", "-c",
                          "while :; do curl -s -m1 -o /dev/null http://" + httpHost +
                              "/ & dig +short +time=1 +tries=1 @" + publicResolver + " example.test; done"});
        QVERIFY(load.waitForStarted());
        for (int flush = 0; flush < 10; ++flush) {
            const qint64 carried = counter("tunnel");
            QCOMPARE(run({"nft", "flush", "ruleset"}).exitCode, 0);
            QTRY_VERIFY_WITH_TIMEOUT(tablePresent(), 20000);
            QTRY_VERIFY_WITH_TIMEOUT(counter("tunnel") > carried, 20000); // the load goes on through it
        }
        load.kill();
        load.waitForFinished();
        QCOMPARE(status(), QStringLiteral("up"));
        QCOMPARE(curl({"http://" + httpHost + "/"}),
                 QStringLiteral("server=%1 peer=%2").arg(httpHost, vpnServer2));
        QVERIFY(counter("tunnel") > 0);
        QCOMPARE(counter("leak4"), 0);
        QCOMPARE(counter("leak6"), 0);
        QCOMPARE(counter("lan_dns"), 0);
    }

    void blocksWhenTheEngineDies() {
        const qint64 pid = helperEnginePid();
        QVERIFY(pid > 0);
        reset();
        QCOMPARE(::kill(pid_t(pid), SIGKILL), 0);
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("blocked"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(readAllState().startsWith("blocked"), 20000);
        const Result refused = run({"curl", "-sS", "-m", "5", "http://" + httpHost + "/"});
        QCOMPARE(refused.exitCode, 7); // refused (7), not timed out (28)
        QCOMPARE(dig({"@" + publicResolver, "example.test"}).contains(httpHost), false);
        QCOMPARE(curl({"-6", "http://[fd00:203::1]/"}), QStringLiteral("rc=7"));
        QCOMPARE(counter("leak4"), 0);
        QCOMPARE(counter("leak6"), 0);
        QCOMPARE(counter("lan_dns"), 0);
        QVERIFY(publicResolverLog().isEmpty());
    }

    void downLeavesNothing() {
        const Result stopped = vemkoNetd({"down"});
        QVERIFY2(stopped.exitCode == 0, stopped.err.constData());
        QCOMPARE(status(), QStringLiteral("down"));
        QVERIFY(!tablePresent());
        QVERIFY(!run({"nft", "list", "tables"}).out.contains("vemko"));
        QCOMPARE(run({"sysctl", "-n", "net.ipv4.conf.all.route_localnet"}).out.trimmed(), QByteArray("0"));
        QCOMPARE(curl({"http://" + httpHost + "/"}),
                 QStringLiteral("server=%1 peer=%2").arg(httpHost, clientAddress));
        QTRY_COMPARE_WITH_TIMEOUT(run({"pgrep", "-u", "vemko-engine"}, {}, std::nullopt).out, QByteArray(),
                                  20000);
        m_squatters.kill();
        m_squatters.waitForFinished();
        run({"ip", "route", "del", "10.203.0.0/24", "dev", "vkc0"});
        run({"ip", "addr", "del", "10.201.0.130/25", "dev", "vkc0"});
    }

    // Nobody else can hold the helper's locks or state; a caller that never closes its input holds
    // nothing, and a `down` meanwhile does not wait for it.
    void othersHoldNothing() {
        const QStringList asNobody{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        for (const QString& file :
             {QStringLiteral("verb.lock"), QStringLiteral("supervisor.lock"), QStringLiteral("state")})
            QVERIFY(run(asNobody + QStringList{"flock", "-n", "-s", helperStateFolder() + "/" + file, "true"})
                        .exitCode != 0);
        QProcess stuck;
        stuck.start("ip", {"netns", "exec", client, helper(), "up"});
        QVERIFY(stuck.waitForStarted());
        stuck.write(clientDocument().left(40));
        stuck.waitForBytesWritten(20000);
        const Result stopped = vemkoNetd({"down"});
        QVERIFY2(stopped.exitCode == 0, stopped.err.constData());
        QCOMPARE(stuck.state(), QProcess::Running); // `down` did not wait for it
        QVERIFY(stuck.waitForFinished(20000));
        QCOMPARE(stuck.exitCode(), 3);
        QVERIFY(stuck.readAllStandardError().contains("did not end in time"));
        QCOMPARE(status(), QStringLiteral("down"));
    }

    // Ctrl-C while `up` starts the engine: it undoes itself; the state and the rules always agree.
    void anInterruptedUpUndoesItself() {
        int interrupted = 0;
        for (int attempt = 0; attempt < 10 && interrupted == 0; ++attempt) {
            QProcess starting;
            starting.start("ip", {"netns", "exec", client, helper(), "up"});
            starting.write(clientDocument());
            starting.waitForBytesWritten(20000);
            starting.closeWriteChannel();
            QFile published(helperStateFolder() + ".status");
            const auto limit = QDeadlineTimer(20000);
            while (!limit.hasExpired() && starting.state() == QProcess::Running) {
                if (published.open(QIODevice::ReadOnly) && published.readAll().startsWith("starting")) {
                    ::kill(pid_t(starting.processId()), SIGINT);
                    break;
                }
                published.close();
            }
            QVERIFY(starting.waitForFinished(20000));
            interrupted += starting.exitCode() == 7;
            QCOMPARE(status(), starting.exitCode() == 7 ? QStringLiteral("down") : QStringLiteral("up"));
            QCOMPARE(tablePresent(), starting.exitCode() != 7);
            vemkoNetd({"down"});
        }
        QVERIFY(interrupted > 0);
        QTRY_COMPARE_WITH_TIMEOUT(run({"pgrep", "-u", "vemko-engine"}, {}, std::nullopt).out, QByteArray(),
                                  20000);
    }

    // A program on the SOCKS entry would receive what the app sends through the tunnel: refused.
    void aSquatterOnTheSocksPortIsRefused() {
        QProcess squatter;
        squatter.start("ip",
                       {"netns", "exec", client, "socat", "TCP4-LISTEN:10808,bind=127.0.0.1,fork", "-"});
        QTRY_VERIFY_WITH_TIMEOUT(run({"ss", "-lnt"}).out.contains("127.0.0.1:10808 "), 20000);
        const Result refused = vemkoNetd({"up"}, clientDocument());
        squatter.kill();
        squatter.waitForFinished();
        QCOMPARE(refused.exitCode, 6);
        QVERIFY2(refused.err.contains("127.0.0.1:10808 is held by another program"), refused.err.constData());
        QVERIFY(!tablePresent());
        QCOMPARE(status(), QStringLiteral("down"));
    }

private:
    QProcess m_squatters;
    static QByteArray readAllState() {
        QFile file(helperStateFolder() + "/state");
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

QTEST_GUILESS_MAIN(NetdNamespaces)
#include "tst_netd_namespaces.moc"
