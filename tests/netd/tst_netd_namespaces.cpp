// vemko-netd for real, as root, inside the test network: traffic, DNS and IPv6 of a plain client
// program, leaks counted on the router, the kill switch, fail-over, and what the helper refuses.
#include "support/NetnsTopology.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>
#include <csignal>
#include <grp.h>
#include <sys/stat.h>

using namespace NetnsTopology;

namespace {

QString helper() {
    return qEnvironmentVariable("VEMKO_BUILD_DIR") + "/bin/vemko-netd";
}

Result netd(const QStringList& arguments, const QByteArray& input = {}) {
    return run(QStringList{helper()} + arguments, input);
}

QString status() {
    return QString::fromUtf8(netd({"status"}).out).trimmed();
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

qint64 enginePid() {
    QFile file(helperStateFolder() + "/engine.pid");
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong() : 0;
}

QString dig(const QStringList& arguments) {
    return QString::fromUtf8(run(QStringList{"dig", "+short", "+time=2", "+tries=1"} + arguments).out)
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
            netd({"down"});
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
        const Result result = netd(arguments, clientDocument());
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
        const Result result = netd({"up"}, document);
        QCOMPARE(result.exitCode, 3);
        QVERIFY2(result.err.contains("document refused"), result.err.constData());
        QVERIFY(!tablePresent());
        QCOMPARE(status(), QStringLiteral("down"));
    }

    void carriesEverythingThroughTheTunnel() {
        // The caller asks for a SOCKS entry open to the LAN: the engine never listens beyond loopback.
        const Result started = netd({"up"}, clientDocument(vpnServer1, "0.0.0.0"));
        QVERIFY2(started.exitCode == 0, started.err.constData());
        QCOMPARE(status(), QStringLiteral("up"));
        const QByteArray listeners = run({"ss", "-ltnuH"}).out;
        QVERIFY2(!listeners.contains("0.0.0.0:10808") && !listeners.contains("*:10808"),
                 listeners.constData());

        // The engine: its own user, no capability in any set, no new privileges.
        const qint64 pid = enginePid();
        QVERIFY(pid > 0);
        QVERIFY(procField(pid, "Uid")
                    .startsWith(run({"id", "-u", "vemko-engine"}, {}, std::nullopt).out.trimmed()));
        for (const char* set : {"CapPrm", "CapEff", "CapBnd", "CapAmb"})
            QCOMPARE(procField(pid, set), QStringLiteral("0000000000000000"));
        QCOMPARE(procField(pid, "NoNewPrivs"), QStringLiteral("1"));
        // Its document: root and the engine's group only.
        const QString config = helperStateFolder() + "/engine.json";
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(config).constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 0777), 0640);
        QCOMPARE(info.st_uid, 0u);
        QCOMPARE(QString::fromUtf8(::getgrgid(info.st_gid)->gr_name), QStringLiteral("vemko-engine"));

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

    // The next candidate needs no rule change: the engine is known by its user id.
    void failsOverToTheNextServer() {
        const Result started = netd({"up"}, clientDocument(vpnServer2));
        QVERIFY2(started.exitCode == 0, started.err.constData());
        reset();
        QCOMPARE(curl({"http://example.test/"}),
                 QStringLiteral("server=%1 peer=%2").arg(httpHost, vpnServer2));
        QCOMPARE(counter("leak4"), 0);
        QCOMPARE(status(), QStringLiteral("up"));
    }

    void blocksWhenTheEngineDies() {
        const qint64 pid = enginePid();
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
        const Result stopped = netd({"down"});
        QVERIFY2(stopped.exitCode == 0, stopped.err.constData());
        QCOMPARE(status(), QStringLiteral("down"));
        QVERIFY(!tablePresent());
        QCOMPARE(run({"nft", "list", "ruleset"}).out.trimmed(), QByteArray());
        QCOMPARE(curl({"http://" + httpHost + "/"}),
                 QStringLiteral("server=%1 peer=%2").arg(httpHost, clientAddress));
        QVERIFY(!QFileInfo::exists(helperStateFolder() + "/engine.json"));
        QTRY_COMPARE_WITH_TIMEOUT(run({"pgrep", "-u", "vemko-engine"}, {}, std::nullopt).out, QByteArray(),
                                  20000);
    }

private:
    static QByteArray readAllState() {
        QFile file(helperStateFolder() + "/state");
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

QTEST_GUILESS_MAIN(NetdNamespaces)
#include "tst_netd_namespaces.moc"
