#include "platform/EngineDocument.h"

#include <QJsonDocument>
#include <QTest>

// Only "quic" in an inbound's sniffing list goes and the log settings are ours; everything else,
// odd shapes included, stays.
class DocumentAdaptationTest : public QObject {
    Q_OBJECT
private slots:
    void adapts_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("the app's inbound")
            << QByteArray(
                   R"({"inbounds":[{"port":10808,"sniffing":{"enabled":true,"destOverride":["http","tls","quic"]}}],
                 "outbounds":[{"settings":{"address":"quic.example"},"streamSettings":{"network":"quic"}}],
                 "routing":{"rules":[{"protocol":["quic"]}]}})")
            << QByteArray(
                   R"({"inbounds":[{"port":10808,"sniffing":{"enabled":true,"destOverride":["http","tls"]}}],
                 "outbounds":[{"settings":{"address":"quic.example"},"streamSettings":{"network":"quic"}}],
                 "routing":{"rules":[{"protocol":["quic"]}]}})");
        QTest::newRow("every inbound, odd shapes pass")
            << QByteArray(R"({"inbounds":[{"sniffing":{"destOverride":["quic"]}},{"protocol":"http"},
                 {"sniffing":{"destOverride":"quic"}},"not an object",{"sniffing":{"destOverride":["tls","fakedns"]}}]})")
            << QByteArray(R"({"inbounds":[{"sniffing":{"destOverride":[]}},{"protocol":"http"},
                 {"sniffing":{"destOverride":"quic"}},"not an object",{"sniffing":{"destOverride":["tls","fakedns"]}}]})");
        QTest::newRow("inbounds not a list")
            << QByteArray(R"({"inbounds":{"a":1}})") << QByteArray(R"({"inbounds":{"a":1}})");
        QTest::newRow("empty") << QByteArray("{}") << QByteArray("{}");
        QTest::newRow("the document's own log settings")
            << QByteArray(R"({"log":{"access":"/home/u/visited.log","error":"/tmp/e","loglevel":"debug"}})")
            << QByteArray("{}");
        QTest::newRow("log not an object") << QByteArray(R"({"log":"debug"})") << QByteArray("{}");
    }
    void adapts() {
        QFETCH(QByteArray, document);
        QFETCH(QByteArray, expected);
        QJsonObject adapted = QJsonDocument::fromJson(expected).object();
        QVERIFY(!adapted.isEmpty() || expected == "{}");
        adapted.insert("log", QJsonObject{{"access", "none"}, {"loglevel", "warning"}});
        QCOMPARE(adaptForEngine(QJsonDocument::fromJson(document).object()), adapted);
    }
};

QTEST_GUILESS_MAIN(DocumentAdaptationTest)
#include "tst_document_adaptation.moc"
