// Splitting the configs document into selectable servers.

#include "service/Api.h"
#include "support/GeneratedConfigs.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QTest>

namespace {

QString text(const QJsonArray& array) {
    return QString::fromUtf8(QJsonDocument(array).toJson());
}

QJsonObject withAddress(const QJsonValue& address, const QString& remarks = {}) {
    QJsonObject config{
        {"outbounds",
         QJsonArray{QJsonObject{
             {"protocol", "vless"},
             {"settings", QJsonObject{{"vnext", QJsonArray{QJsonObject{{"address", address}}}}}}}}}};
    if (!remarks.isEmpty())
        config["remarks"] = remarks;
    return config;
}

QStringList names(const QList<ServerProfile>& profiles) {
    QStringList result;
    for (const auto& profile : profiles)
        result.append(profile.name);
    return result;
}

} // namespace

class ProfilesTest : public QObject {
    Q_OBJECT

private slots:
    void documentsThatGiveNothing_data() {
        QTest::addColumn<QString>("document");
        QTest::newRow("empty array") << QStringLiteral("[]");
        QTest::newRow("empty text") << QString();
        QTest::newRow("object") << QStringLiteral(R"({"remarks":"A"})");
        QTest::newRow("not json") << QStringLiteral("<html>");
        QTest::newRow("bare string") << QStringLiteral(R"("x")");
        QTest::newRow("bare number") << QStringLiteral("5");
        QTest::newRow("string between objects") << QStringLiteral(R"([{"remarks":"A"},"x",{"remarks":"B"}])");
        QTest::newRow("number between objects") << QStringLiteral(R"([{"remarks":"A"},1,{"remarks":"B"}])");
        QTest::newRow("null element") << QStringLiteral(R"([{"remarks":"A"},null])");
        QTest::newRow("nested array element") << QStringLiteral(R"([[{"remarks":"A"}]])");
        QTest::newRow("truncated") << QStringLiteral(R"([{"remarks":"A"},{"remarks":)");
    }

    void documentsThatGiveNothing() {
        QFETCH(QString, document);
        QVERIFY(Api::parseProfiles(document).isEmpty());
    }

    void namesInDocumentOrder() {
        const auto profiles =
            Api::parseProfiles(text({withAddress("ams.example.net", QStringLiteral("Амстердам")),
                                     QJsonObject{{"outbounds", QJsonArray{}}}}));
        QCOMPARE(names(profiles), (QStringList{QStringLiteral("Амстердам"), QStringLiteral("Сервер")}));
        QCOMPARE(profiles[0].config, withAddress("ams.example.net", QStringLiteral("Амстердам")));
    }

    void nameRules() {
        const auto profiles =
            Api::parseProfiles(QStringLiteral(R"([{"remarks":""},{"remarks":7},{"remarks":null},{}])"));
        QCOMPARE(names(profiles), (QStringList{QString(), "Сервер", "Сервер", "Сервер"}));
        QCOMPARE(profiles[3].config, QJsonObject());
    }

    void placeholdersAreLeftOut_data() {
        QTest::addColumn<QJsonObject>("config");
        QTest::addColumn<bool>("kept");
        QTest::newRow("exact placeholder") << withAddress("0.0.0.0") << false;
        QTest::newRow("trailing space") << withAddress("0.0.0.0 ") << true;
        QTest::newRow("number zero") << withAddress(0) << true;
        QTest::newRow("real host") << withAddress("1.2.3.4") << true;

        auto second = withAddress("real.example.net");
        auto outbounds = second["outbounds"].toArray();
        outbounds.append(withAddress("0.0.0.0")["outbounds"].toArray().at(0));
        second["outbounds"] = outbounds;
        QTest::newRow("placeholder in a later outbound") << second << false;

        QJsonObject twoServers = withAddress("real.example.net");
        QJsonObject servers{
            {"vnext", QJsonArray{QJsonObject{{"address", "a"}}, QJsonObject{{"address", "0.0.0.0"}}}}};
        twoServers["outbounds"] = QJsonArray{QJsonObject{{"settings", servers}}};
        QTest::newRow("placeholder as second vnext entry") << twoServers << false;

        QJsonObject underServers{
            {"outbounds",
             QJsonArray{QJsonObject{
                 {"settings", QJsonObject{{"servers", QJsonArray{QJsonObject{{"address", "0.0.0.0"}}}}}}}}}};
        QTest::newRow("servers list not examined") << underServers << true;

        QJsonObject outboundsObject{{"outbounds", withAddress("0.0.0.0")["outbounds"].toArray().at(0)}};
        QTest::newRow("outbounds is an object") << outboundsObject << true;

        auto mixedOutbounds = withAddress("0.0.0.0");
        auto mixed = mixedOutbounds["outbounds"].toArray();
        mixed.append(5);
        mixedOutbounds["outbounds"] = mixed;
        QTest::newRow("outbounds holds a non-object") << mixedOutbounds << true;

        QJsonObject mixedVnext{
            {"outbounds",
             QJsonArray{QJsonObject{
                 {"settings", QJsonObject{{"vnext", QJsonArray{QJsonObject{{"address", "0.0.0.0"}}, 1}}}}}}}};
        QTest::newRow("vnext holds a non-object") << mixedVnext << true;

        auto mixedThenReal = mixedVnext;
        auto list = mixedThenReal["outbounds"].toArray();
        list.append(withAddress("0.0.0.0")["outbounds"].toArray().at(0));
        mixedThenReal["outbounds"] = list;
        QTest::newRow("bad vnext passed over, next outbound checked") << mixedThenReal << false;

        QJsonObject settingsArray{{"outbounds", QJsonArray{QJsonObject{{"settings", QJsonArray{}}}}}};
        QTest::newRow("settings not an object") << settingsArray << true;
    }

    void placeholdersAreLeftOut() {
        QFETCH(QJsonObject, config);
        QFETCH(bool, kept);
        const auto profiles = Api::parseProfiles(text({withAddress("x", QStringLiteral("Первый")), config}));
        QCOMPARE(profiles.size(), kept ? 2 : 1);
        QCOMPARE(profiles[0].name, QStringLiteral("Первый"));
    }

    void identityIsTheName() {
        const auto document =
            text({withAddress("a", QStringLiteral("Рига")), withAddress("b", QStringLiteral("Рига"))});
        const auto first = Api::parseProfiles(document);
        QCOMPARE(first.size(), 2);
        QCOMPARE(first[0], first[1]);
        QCOMPARE(qHash(first[0]), qHash(first[1]));
        QVERIFY(first[0].id != first[1].id);
        QVERIFY(!first[0].id.isNull());
        QCOMPARE(first[0].id.version(), QUuid::Random);

        const auto again = Api::parseProfiles(document);
        QCOMPARE(again[0].name, first[0].name);
        QVERIFY(again[0].id != first[0].id);
        QCOMPARE(QSet<ServerProfile>(first.begin(), first.end()).size(), 1);
    }

    void largeGeneratedDocument() {
        const auto document = generatedConfigs(2000, 10);
        QVERIFY(document.size() > 2000 * 1400);
        const auto profiles = Api::parseProfiles(QString::fromUtf8(document));
        QCOMPARE(profiles.size(), 1800);
        QCOMPARE(profiles[0].name, QStringLiteral("Сервер-0"));
        QCOMPARE(profiles[1].name, QStringLiteral("Server 1"));
        QCOMPARE(profiles[9].name, QStringLiteral("Сервер-10"));       // number 9 was a placeholder
        QCOMPARE(profiles.last().name, QStringLiteral("Сервер-1998")); // 1999 was one too
        QCOMPARE(profiles[0].config.value("routing").toObject().value("rules").toArray().size(), 3);
        QSet<QUuid> ids;
        for (const auto& profile : profiles)
            ids.insert(profile.id);
        QCOMPARE(ids.size(), profiles.size());
    }
};

QTEST_GUILESS_MAIN(ProfilesTest)
#include "tst_profiles.moc"
