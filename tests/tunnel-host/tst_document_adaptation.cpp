#include "platform/EngineDocument.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

namespace {
QJsonObject parse(const char* json) {
    return QJsonDocument::fromJson(json).object();
}
} // namespace

class DocumentAdaptationTest : public QObject {
    Q_OBJECT
private slots:
    void dropsQuicFromSniffingOnly() {
        const QJsonObject document = parse(R"({
            "log": {"loglevel": "warning"},
            "inbounds": [{"tag": "socks", "port": 10808, "listen": "127.0.0.1", "protocol": "socks",
                          "settings": {"udp": true, "auth": "noauth"},
                          "sniffing": {"enabled": true, "routeOnly": false,
                                       "destOverride": ["http", "tls", "quic"]}}],
            "outbounds": [{"protocol": "vmess", "settings": {"vnext": [{"address": "quic.example",
                           "users": [{"id": "quic"}]}]}, "streamSettings": {"network": "quic"}}],
            "routing": {"rules": [{"protocol": ["quic"], "outboundTag": "block"}]}
        })");
        QJsonObject expected = document;
        QJsonArray inbounds = expected["inbounds"].toArray();
        QJsonObject socks = inbounds[0].toObject();
        QJsonObject sniffing = socks["sniffing"].toObject();
        sniffing["destOverride"] = QJsonArray{"http", "tls"};
        socks["sniffing"] = sniffing;
        inbounds[0] = socks;
        expected["inbounds"] = inbounds;

        QCOMPARE(adaptForEngine(document), expected);
    }

    void everyInboundIsAdaptedAndOddShapesPass() {
        const QJsonObject document = parse(R"({
            "inbounds": [{"sniffing": {"destOverride": ["quic"]}},
                         {"protocol": "http"},
                         {"sniffing": {"destOverride": "quic"}},
                         "not an object",
                         {"sniffing": {"destOverride": ["tls", "fakedns"]}}]
        })");
        const QJsonArray inbounds = adaptForEngine(document)["inbounds"].toArray();
        QCOMPARE(inbounds.size(), 5);
        QCOMPARE(inbounds[0]["sniffing"]["destOverride"].toArray(), QJsonArray());
        QCOMPARE(inbounds[1], document["inbounds"][1]);
        QCOMPARE(inbounds[2], document["inbounds"][2]);
        QCOMPARE(inbounds[3], document["inbounds"][3]);
        QCOMPARE(inbounds[4], document["inbounds"][4]);
    }

    void documentWithoutInboundsIsUnchanged() {
        const QJsonObject document =
            parse(R"({"outbounds": [{"protocol": "freedom"}], "inbounds": {"a": 1}})");
        QCOMPARE(adaptForEngine(document), document);
        QCOMPARE(adaptForEngine(QJsonObject()), QJsonObject());
    }
};

QTEST_GUILESS_MAIN(DocumentAdaptationTest)
#include "tst_document_adaptation.moc"
