// Splitting the configs document into selectable servers.

#include "service/Api.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

class ProfilesTest : public QObject {
    Q_OBJECT

private slots:
    void documentsThatGiveNothing_data() {
        QTest::addColumn<QString>("document");
        QTest::newRow("empty array") << u"[]"_s;
        QTest::newRow("empty text") << QString();
        QTest::newRow("object") << uR"({"remarks":"A"})"_s;
        QTest::newRow("not json") << u"<html>"_s;
        QTest::newRow("string between objects") << uR"([{"remarks":"A"},"x",{"remarks":"B"}])"_s;
        QTest::newRow("number between objects") << uR"([{"remarks":"A"},1,{"remarks":"B"}])"_s;
        QTest::newRow("null element") << uR"([{"remarks":"A"},null])"_s;
        QTest::newRow("truncated") << uR"([{"remarks":"A"},{"remarks":)"_s;
    }

    void documentsThatGiveNothing() {
        QFETCH(QString, document);
        QVERIFY(Api::parseProfiles(document).isEmpty());
    }

    void namesAndConfigsInDocumentOrder() {
        const auto amsterdam =
            uR"({"remarks":"Амстердам","outbounds":[{"settings":{"vnext":[{"address":"ams.example.net"}]}}]})"_s;
        const auto profiles =
            Api::parseProfiles(u"[%1,{},{\"remarks\":\"\"},{\"remarks\":7}]"_s.arg(amsterdam));
        QStringList names;
        for (const auto& profile : profiles)
            names << profile.name;
        QCOMPARE(names, (QStringList{u"Амстердам"_s, u"Сервер"_s, QString(), u"Сервер"_s}));
        QCOMPARE(profiles[0].config, QJsonDocument::fromJson(amsterdam.toUtf8()).object());
        QCOMPARE(profiles[1].config, QJsonObject());
    }

    void placeholdersAreLeftOut_data() {
        QTest::addColumn<QString>("outbounds");
        QTest::addColumn<bool>("kept");
        const auto row = [](const char* tag, const char16_t* outbounds, bool kept) {
            QTest::newRow(tag) << QString::fromUtf16(outbounds) << kept;
        };
        row("exact placeholder", uR"([{"settings":{"vnext":[{"address":"0.0.0.0"}]}}])", false);
        row("trailing space", uR"([{"settings":{"vnext":[{"address":"0.0.0.0 "}]}}])", true);
        row("number zero", uR"([{"settings":{"vnext":[{"address":0}]}}])", true);
        row("in a later outbound",
            uR"([{"settings":{"vnext":[{"address":"a"}]}},{"settings":{"vnext":[{"address":"0.0.0.0"}]}}])",
            false);
        row("second vnext entry", uR"([{"settings":{"vnext":[{"address":"a"},{"address":"0.0.0.0"}]}}])",
            false);
        row("servers list not examined", uR"([{"settings":{"servers":[{"address":"0.0.0.0"}]}}])", true);
        row("outbounds is an object", uR"({"settings":{"vnext":[{"address":"0.0.0.0"}]}})", true);
        row("outbounds holds a non-object", uR"([{"settings":{"vnext":[{"address":"0.0.0.0"}]}},5])", true);
        row("vnext holds a non-object", uR"([{"settings":{"vnext":[{"address":"0.0.0.0"},1]}}])", true);
        row("bad lists passed over",
            uR"([{"settings":{"vnext":[1]}},{"settings":[]},{"settings":{"vnext":[{"address":"0.0.0.0"}]}}])",
            false);
    }

    void placeholdersAreLeftOut() {
        QFETCH(QString, outbounds);
        QFETCH(bool, kept);
        const auto profiles =
            Api::parseProfiles(uR"([{"remarks":"Первый"},{"outbounds":%1}])"_s.arg(outbounds));
        QCOMPARE(profiles.size(), kept ? 2 : 1);
        QCOMPARE(profiles[0].name, u"Первый"_s);
    }

    // Identity is the name, so a selection survives a re-parse, though ids are new each time.
    void identityIsTheName() {
        const auto document = uR"([{"remarks":"Рига"},{"remarks":"Рига"}])"_s;
        const auto first = Api::parseProfiles(document);
        QVERIFY(first[0].id != first[1].id);
        QCOMPARE(first[0], first[1]);
        QCOMPARE(qHash(first[0]), qHash(first[1]));
        QCOMPARE(Api::parseProfiles(document)[0], first[0]);
    }
};

QTEST_GUILESS_MAIN(ProfilesTest)
#include "tst_profiles.moc"
