// The engine layer on its own: what the allow-list lets through, what each engine can run, and the
// document written for it; discovery of the engine and its version.
#include "engine/Discovery.h"
#include "engine/Document.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// Server entries as services send them, for the engine-layer tests. JSON in single quotes.

#include <QByteArray>

namespace entries {

inline QByteArray json(const char* text) {
    return QByteArray(text).replace('\'', '"');
}

inline const QByteArray realityVision = json(
    "{'remarks':'Нидерланды','outbounds':[{'tag':'proxy','protocol':'vless','settings':{'vnext':[{"
    "'address':'nl.example.net','port':443,'users':[{'id':'5783a3e7-e373-51cd-8642-c83782b807c5',"
    "'encryption':'none','flow':'xtls-rprx-vision'}]}]},'streamSettings':{'network':'tcp','security':'"
    "reality',"
    "'realitySettings':{'serverName':'www.microsoft.com','fingerprint':'chrome','publicKey':"
    "'Z84J2IelR9ch3k8VtlVhhs5ycBUlXA7wHBWcBrjqnAw','shortId':'6ba85179e30d4fc2','spiderX':'/'}}},"
    "{'tag':'direct','protocol':'freedom'},{'tag':'block','protocol':'blackhole'}],"
    "'routing':{'domainStrategy':'IPIfNonMatch','rules':[{'type':'field','ip':['geoip:private'],"
    "'outboundTag':'direct'}]},'inbounds':[{'port':10808,'protocol':'socks'}],'log':{'loglevel':'debug'}}");

inline const QByteArray xhttp =
    json("{'outbounds':[{'protocol':'vless','settings':{'vnext':[{'address':'cdn.example.net','port':443,"
         "'users':[{'id':'2b4c3f5e-0b1a-4c0e-9a57-3d4f7c1d2e8a','encryption':'none'}]}]},'streamSettings':{'"
         "network':'xhttp','security':'tls',"
         "'tlsSettings':{'serverName':'cdn.example.net','alpn':['h2'],'fingerprint':'firefox'},"
         "'xhttpSettings':{'path':'/x','mode':'auto','extra':{'xPaddingBytes':'100-1000','xmux':"
         "{'maxConcurrency':'16-32'}}}}}]}");

inline const QByteArray vmessWs = json(
    "{'outbounds':[{'protocol':'vmess','settings':{'vnext':[{'address':'de.example.net','port':'8443',"
    "'users':[{'id':'2b4c3f5e-0b1a-4c0e-9a57-3d4f7c1d2e8a','alterId':0,'security':'auto'}]}]},'"
    "streamSettings':{'network':'ws',"
    "'security':'tls','tlsSettings':{'serverName':'de.example.net'},'wsSettings':{'path':'/ws',"
    "'headers':{'Host':'de.example.net'}}},'mux':{'enabled':true,'concurrency':8,'xudpConcurrency':16}}],"
    "'dns':{'servers':['1.1.1.1','localhost',{'address':'https+local://8.8.8.8/dns-query'},"
    "{'address':'9.9.9.9','port':53}]}}");

inline const QByteArray trojanGrpc =
    json("{'outbounds':[{'protocol':'trojan','settings':{'servers':[{'address':'fi.example.net','port':443,"
         "'password':'secret'}]},'streamSettings':{'network':'grpc','security':'tls','grpcSettings':"
         "{'serviceName':'tun'}}}]}");

inline const QByteArray shadowsocks = json(
    "{'outbounds':[{'protocol':'shadowsocks','settings':{'servers':[{'address':'203.0.113.9','port':8388,"
    "'method':'aes-256-gcm','password':'secret'}]}},{'tag':'direct','protocol':'freedom'}],"
    "'routing':{'rules':[{'type':'field','domain':['domain:example.ru','full:ya.ru'],'port':'80,443',"
    "'outboundTag':'direct'},{'type':'field','inboundTag':['api'],'outboundTag':'direct'}]}}");

inline const QByteArray shadowsocks2022 = json(
    "{'outbounds':[{'protocol':'shadowsocks','settings':{'servers':[{'address':'203.0.113.9','port':8388,"
    "'method':'2022-blake3-aes-128-gcm','password':'secret'}]}}]}");

inline const QByteArray geoRules =
    json("{'outbounds':[{'tag':'proxy','protocol':'vmess','settings':{'vnext':[{'address':'de.example.net',"
         "'port':443,'users':[{'id':'2b4c3f5e-0b1a-4c0e-9a57-3d4f7c1d2e8a'}]}]}},{'tag':'direct','protocol':'"
         "freedom'}],'routing':{'rules':["
         "{'type':'field','ip':['geoip:private','geoip:ru'],'outboundTag':'direct'},{'type':'field','domain':"
         "['geosite:category-ads-all'],'outboundTag':'direct'}]}}");

inline const QByteArray h2 =
    json("{'outbounds':[{'protocol':'vmess','settings':{'vnext':[{'address':'de.example.net','port':443,"
         "'users':[{'id':'2b4c3f5e-0b1a-4c0e-9a57-3d4f7c1d2e8a'}]}]},'streamSettings':{'network':'h2','"
         "security':'tls','httpSettings':"
         "{'host':['de.example.net'],'path':'/h2'}}}]}");

inline const QByteArray trojanTcp =
    json("{'outbounds':[{'protocol':'trojan','settings':{'servers':[{'address':'fi.example.net','port':443,"
         "'password':'secret'}]},'streamSettings':{'network':'raw','security':'tls','rawSettings':"
         "{'header':{'type':'none'}}}}]}");

} // namespace entries

using entries::json;

namespace {

engine::EngineInfo engineOf(const char* versionLine, bool geoData) {
    auto info = engine::identify(versionLine).value();
    info.geoip = info.geosite = geoData;
    return info;
}
const char* const v2rayLine = "V2Ray 4.34.0 (V2Fly, a community-driven edition of V2Ray.) Custom (go1.19.8)";
const char* const xrayLine = "Xray 25.12.8 (Xray, Penetrates Everything.) 81f8f39 (go1.26.11 linux/amd64)";
const engine::EngineInfo v2ray = engineOf(v2rayLine, false);
const engine::EngineInfo xray = engineOf(xrayLine, true);

std::variant<engine::Server, engine::Refusal> read(const QByteArray& entry) {
    return engine::readServer(std::string_view(entry.constData(), size_t(entry.size())));
}

QString refusalOf(const QByteArray& entry) {
    const auto server = read(entry);
    const auto* refusal = std::get_if<engine::Refusal>(&server);
    return refusal ? QString::fromStdString(refusal->reason) : QString();
}

QJsonObject written(const QByteArray& entry, const engine::EngineInfo& engine) {
    const auto text = engine::writeDocument(std::get<engine::Server>(read(entry)), engine, {});
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

// An executable that answers its version command with `line`.
void fakeEngine(const QString& path, const QByteArray& line) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\necho '" + line + "'\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

class EngineDocuments : public QObject {
    Q_OBJECT
private slots:
    void whatEachEngineRuns_data() {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QString>("onV2ray"); // why it cannot run there; "" : it runs
        QTest::addColumn<QString>("onXray");
        const auto row = [](const char* tag, const QByteArray& entry, const char* onV2ray,
                            const char* onXray) {
            QTest::newRow(tag) << entry << QString(onV2ray) << QString(onXray);
        };
        row("VLESS, REALITY, Vision", entries::realityVision, "нужен Xray: REALITY", "");
        row("VLESS, xhttp, uTLS", entries::xhttp, "нужен Xray: отпечаток TLS", "");
        row("VMess, ws, TLS", entries::vmessWs, "", "");
        row("Trojan, gRPC", entries::trojanGrpc, "нужен V2Ray 4.36.0 или новее: gRPC", "");
        row("Trojan, raw", entries::trojanTcp, "", "");
        row("Shadowsocks", entries::shadowsocks, "", "");
        row("Shadowsocks 2022", entries::shadowsocks2022, "нужен Xray: Shadowsocks 2022", "");
        row("geo rules", entries::geoRules, "нет геоданных для geoip:ru", "");
        row("h2 transport", entries::h2, "", "Xray 25.12.8 не поддерживает транспорт http");
    }
    void whatEachEngineRuns() {
        QFETCH(QByteArray, entry);
        QFETCH(QString, onV2ray);
        QFETCH(QString, onXray);
        const auto server = std::get<engine::Server>(read(entry));
        QCOMPARE(QString::fromStdString(engine::unusableReason(server, v2ray).value_or("")), onV2ray);
        QCOMPARE(QString::fromStdString(engine::unusableReason(server, xray).value_or("")), onXray);
        const auto older = engineOf("Xray 1.7.5 (Xray, Penetrates Everything.)", true);
        if (entry == entries::realityVision)
            QCOMPARE(engine::unusableReason(server, older), "нужен Xray 1.8.0 или новее: REALITY");

        // What v2ray can run, it accepts as we wrote it: the real engine checks the document.
        if (!onV2ray.isEmpty() || QStandardPaths::findExecutable("v2ray").isEmpty())
            return;
        QProcess check;
        check.start("v2ray", {"-test", "-config", "stdin:"});
        check.write(QJsonDocument(written(entry, v2ray)).toJson());
        check.closeWriteChannel();
        QVERIFY(check.waitForFinished(30000));
        QVERIFY2(check.exitCode() == 0, check.readAll().constData());
    }

    // The written document spells things for its engine and sends the engine's own DNS through
    // the proxy; reading it back and writing it again changes nothing.
    void writesForTheEngine() {
        const QJsonObject forV2ray = written(entries::realityVision, xray);
        const QJsonObject socks = forV2ray[u"inbounds"][0].toObject();
        QCOMPARE(socks[u"sniffing"][u"destOverride"].toArray(), (QJsonArray{"http", "tls", "quic"}));
        QCOMPARE(written(entries::vmessWs, v2ray)[u"inbounds"][0][u"sniffing"][u"destOverride"].toArray(),
                 (QJsonArray{"http", "tls"}));
        const QJsonObject ws = written(entries::vmessWs, v2ray);
        QCOMPARE(ws[u"outbounds"][0][u"settings"][u"vnext"][0][u"port"].toInt(),
                 8443); // a text port, now a number
        QVERIFY(!ws[u"outbounds"][0][u"mux"].toObject().contains("xudpConcurrency"));
        QCOMPARE(ws[u"dns"][u"servers"].toArray(),
                 (QJsonArray{"1.1.1.1", QJsonObject{{"address", "9.9.9.9"}, {"port", 53}}}));
        const QJsonArray rules = ws[u"routing"][u"rules"].toArray();
        QCOMPARE(rules[0][u"inboundTag"].toArray(), QJsonArray{engine::resolverTag});
        QCOMPARE(rules[0][u"outboundTag"], ws[u"outbounds"][0][u"tag"]);

        // geoip:private without geo data: its exact ranges.
        const QJsonArray ranges =
            written(entries::realityVision, v2ray)[u"routing"][u"rules"][1][u"ip"].toArray();
        QVERIFY(ranges.contains("192.168.0.0/16") && ranges.contains("fc00::/7") &&
                !ranges.contains("geoip:private"));
        QCOMPARE(written(entries::realityVision, xray)[u"routing"][u"rules"][1][u"ip"].toArray(),
                 QJsonArray{"geoip:private"});

        const std::string once =
            engine::writeDocument(std::get<engine::Server>(read(entries::xhttp)), xray, {});
        const std::string twice = engine::writeDocument(
            std::get<engine::Server>(engine::readServer(std::string_view(once))), xray, {});
        QCOMPARE(twice, once);
        QCOMPARE(QJsonDocument::fromJson(QByteArray::fromStdString(once))[u"outbounds"][0][u"streamSettings"]
                     .toObject()
                     .keys(),
                 (QStringList{"network", "security", "tlsSettings", "xhttpSettings"}));
    }

    // Whatever else an entry holds, the engine sees only what we wrote: one SOCKS inbound on
    // 127.0.0.1, our log, no API, no statistics, no reverse proxy; or the entry is refused.
    void hostileEntries_data() {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QString>("refusal");
        const QByteArray server =
            "'outbounds':[{'tag':'proxy','protocol':'vless','settings':{'vnext':[{'address':"
            "'a.example','port':443,'users':[{'id':'u'}]}]}},{'tag':'direct','protocol':'freedom'}]";
        const auto with = [&](const char* extra) {
            return json(("{" + server + "," + extra + "}").constData());
        };
        const auto outbound = [](const char* members) {
            return json(
                QByteArray("{'outbounds':[{'protocol':'vless','settings':{'vnext':[{'address':'a.example',"
                           "'port':443,'users':[{'id':'u'}]}]},")
                    .append(members)
                    .append("}]}")
                    .constData());
        };
        QTest::newRow("deprecated inbound lists")
            << with("'inboundDetour':[{'listen':'0.0.0.0','port':1080,'protocol':'socks'}],"
                    "'inbound':{'listen':'0.0.0.0','port':1081,'protocol':'socks'},'outboundDetour':[]")
            << "";
        QTest::newRow("case variants and Unicode folding")
            << with("'Inbounds':[{'listen':'0.0.0.0','port':1,'protocol':'socks'}],'inbound\\u017f':[],"
                    "'OUTBOUNDS':[{'protocol':'freedom'}],'\\u212aey':1")
            << "";
        QTest::newRow("api, stats, reverse, log paths")
            << with("'API':{'tag':'api','services':['HandlerService']},'api':{'tag':'api'},'stats':{},"
                    "'reverse':{'portals':[{'tag':'p','domain':'r.example'}]},'LOG':{'access':'/tmp/a'},"
                    "'log':{'access':'/home/u/visited','error':'/etc/"
                    "x'},'policy':{},'transport':{},'observatory':{}")
            << "";
        QTest::newRow("resolvers around the tunnel")
            << with("'dns':{'servers':['localhost',{'address':'tcp+local://"
                    "8.8.8.8'},'fakedns']},'routing':{'rules':"
                    "[{'type':'field','ip':['1.1.1.1'],'outboundTag':'direct'},{'type':'field','inboundTag':"
                    "['dns-in'],'outboundTag':'direct'}]}")
            << "";
        QTest::newRow("a switch of protection in another case")
            << outbound("'streamSettings':{'network':'tcp','Security':'reality'}")
            << "неизвестная настройка сервера: outbounds[0].streamSettings.Security";
        QTest::newRow("stream settings in another case")
            << outbound("'StreamSettings':{'security':'tls'}")
            << "неизвестная настройка сервера: outbounds[0].StreamSettings";
        QTest::newRow("a TLS member in another case")
            << outbound("'streamSettings':{'security':'tls','tlsSettings':{'ServerName':'x'}}")
            << "неизвестная настройка сервера: outbounds[0].streamSettings.tlsSettings.ServerName";
        QTest::newRow("domainsocket")
            << outbound("'streamSettings':{'network':'domainsocket','dsSettings':{'path':'/tmp/s'}}")
            << "транспорт domainsocket не поддерживается";
        QTest::newRow("old XTLS") << outbound("'streamSettings':{'security':'xtls','xtlsSettings':{}}")
                                  << "XTLS старого образца больше не поддерживается";
        QTest::newRow("client certificates from files")
            << outbound("'streamSettings':{'security':'tls','tlsSettings':{'certificates':[{'certificateFile'"
                        ":'/etc/x'}]}}")
            << "сертификаты из файлов не поддерживаются";
        QTest::newRow("proxy chain") << outbound("'proxySettings':{'tag':'direct'}")
                                     << "цепочки прокси не поддерживаются";
        QTest::newRow("dialer chain")
            << outbound("'streamSettings':{'sockopt':{'dialerProxy':'x','mark':255}}")
            << "цепочки прокси не поддерживаются";
        QTest::newRow("a port range")
            << json("{'outbounds':[{'protocol':'trojan','settings':{'servers':[{'address':"
                    "'a.example','port':'5000-5400','password':'p'}]}}]}")
            << "неверное значение в настройках сервера: outbounds[0].settings.servers[0].port";
        QTest::newRow("VLESS encryption we cannot prove")
            << json("{'outbounds':[{'protocol':'vless','settings':{'vnext':[{'address':'a','port':1,'users':"
                    "[{'id':'u','encryption':'mlkem768x25519plus'}]}]}}]}")
            << "неподдерживаемое значение «mlkem768x25519plus»: "
               "outbounds[0].settings.vnext[0].users[0].encryption";
        QTest::newRow("a member in another case inside a user")
            << json("{'outbounds':[{'protocol':'vless','settings':{'vnext':[{'address':'a','port':1,'users':"
                    "[{'id':'u','Flow':'xtls-rprx-vision'}]}]}}]}")
            << "неизвестная настройка сервера: outbounds[0].settings.vnext[0].users[0].Flow";
        QTest::newRow("Trojan flow")
            << json("{'outbounds':[{'protocol':'trojan','settings':{'servers':[{'address':"
                    "'a','port':1,'password':'p','flow':'xtls-rprx-direct'}]}}]}")
            << "Trojan с flow больше не поддерживается";
        QTest::newRow("balancer")
            << with("'routing':{'rules':[{'type':'field','network':'tcp','balancerTag':'b'}]}")
            << "балансировщики не поддерживаются";
        QTest::newRow("rules from files")
            << with("'routing':{'rules':[{'type':'field','domain':['ext:/etc/x.dat:t'],"
                    "'outboundTag':'direct'}]}")
            << "правила из внешних файлов не поддерживаются";
        QTest::newRow("a rule to nowhere")
            << with("'routing':{'rules':[{'type':'field','port':53,'outboundTag':'x'}]}")
            << "правило ведёт к неизвестному соединению «x»";
        QTest::newRow("a tag of ours")
            << json("{'outbounds':[{'tag':'vemko-dns-out','protocol':'vless','settings':{"
                    "'vnext':[{'address':'a','port':1,'users':[{'id':'u'}]}]}}]}")
            << "неверное значение в настройках сервера: outbounds[0].tag";
        QTest::newRow("no server, no inbounds")
            << json("{'outbounds':[{'protocol':'freedom'}]}") << "в настройках нет сервера VPN";
        QTest::newRow("no outbounds") << QByteArray("{}") << "в настройках сервера нет списка outbounds";
        QTest::newRow("not JSON") << QByteArray("{\"outbounds\":[") << "документ не JSON";
        QTest::newRow("120,000 levels deep") << QByteArray(120000, '[') << "слишком глубокая вложенность";
        QTest::newRow("over the size limit")
            << with(("'remarks':'" + QByteArray(300 * 1024, 'x') + "'").constData())
            << "слишком большой документ";
    }
    void hostileEntries() {
        QFETCH(QByteArray, entry);
        QFETCH(QString, refusal);
        QCOMPARE(refusalOf(entry), refusal);
        if (!refusal.isEmpty())
            return;
        const QJsonObject document = written(entry, v2ray);
        QCOMPARE(document.keys(), (QStringList{"dns", "inbounds", "log", "outbounds", "routing"}));
        QCOMPARE(document[u"log"].toObject(), (QJsonObject{{"access", "none"}, {"loglevel", "warning"}}));
        const QJsonArray inbounds = document[u"inbounds"].toArray();
        QCOMPARE(inbounds.size(), 1);
        QCOMPARE(inbounds[0][u"listen"].toString(), "127.0.0.1");
        QCOMPARE(inbounds[0][u"port"].toInt(), 10808);
        const QJsonArray rules = document[u"routing"][u"rules"].toArray();
        QCOMPARE(rules[0][u"inboundTag"].toArray(),
                 QJsonArray{engine::resolverTag}); // first: DNS via the proxy
        for (const auto rule : rules)
            QVERIFY(rule == rules[0] || !rule.toObject().contains("inboundTag"));
        QCOMPARE(document[u"dns"][u"servers"].toArray(), QJsonArray{"1.1.1.1"});
    }

    void identifiesEngines_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("name"); // "" : not an engine we run
        QTest::newRow("xray") << xrayLine << "Xray 25.12.8";
        QTest::newRow("v2ray 4") << v2rayLine << "V2Ray 4.34.0";
        QTest::newRow("v2ray 5 reads another format") << "V2Ray 5.16.1 (V2Fly, a community-driven edition)"
                                                      << "";
        QTest::newRow("anything else") << "Usage: foo [options]"
                                       << "";
        QTest::newRow("empty") << ""
                               << "";
    }
    void identifiesEngines() {
        QFETCH(QString, line);
        QFETCH(QString, name);
        const auto engine = engine::identify(line.toStdString());
        QCOMPARE(engine ? QString::fromStdString(engine->name()) : QString(), name);
    }

    // The override first, then an Xray beside the app, then xray and v2ray on PATH; the version is
    // read again when the binary changes.
    void discoversInOrder() {
        QTemporaryDir home;
        const QString bundled = home.filePath("AppDir/bin"), path = home.filePath("path");
        fakeEngine(home.filePath("dev/xray-dev"), "Xray 1.8.24 (Xray, Penetrates Everything.)");
        fakeEngine(bundled + "/xray", "Xray 25.12.8 (Xray, Penetrates Everything.)");
        fakeEngine(path + "/xray", "Xray 24.12.18 (Xray, Penetrates Everything.)");
        fakeEngine(path + "/v2ray", "V2Ray 4.34.0 (V2Fly, a community-driven edition of V2Ray.)");
        QFile(path + "/geoip.dat").open(QIODevice::WriteOnly);
        engine::Places places{home.filePath("dev/xray-dev").toStdString(),
                              {bundled.toStdString()},
                              path.toStdString(),
                              {},
                              home.filePath("versions").toStdString()};
        const auto found = [&] {
            const auto discovered = engine::discover(places);
            return discovered.engine ? QString::fromStdString(discovered.engine->name())
                                     : QString::fromStdString(discovered.problem);
        };
        QCOMPARE(found(), "Xray 1.8.24");
        places.override.clear();
        QCOMPARE(found(), "Xray 25.12.8");
        if (QFile::exists("/usr/local/bin/xray"))
            return;
        places.bundledDirs.clear();
        QCOMPARE(found(), "Xray 24.12.18");
        QVERIFY(engine::discover(places).engine->geoip);
        fakeEngine(path + "/xray", "Xray 25.1.30 (Xray, Penetrates Everything.) changed");
        QCOMPARE(found(), "Xray 25.1.30");
        QFile::remove(path + "/xray");
        QCOMPARE(found(), "V2Ray 4.34.0");
        QCOMPARE(QFile::permissions(home.filePath("versions")),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        places.override = home.filePath("missing/xray").toStdString();
        QCOMPARE(found(), "движок " + home.filePath("missing/xray") + " не найден");
    }
};

QTEST_GUILESS_MAIN(EngineDocuments)
#include "tst_engine_documents.moc"
