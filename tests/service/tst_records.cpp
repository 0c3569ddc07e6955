// Decoding the service's records: presence, exact JSON types, value equality; and splitting the
// configs document into selectable servers. (That every record reads every member under its own
// name is checked end to end by tst_api.)

#include "service/Api.h"
#include "service/Errors.h"
#include "service/Records.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QJsonObject parse(const QByteArray& json) {
    return QJsonDocument::fromJson(json).object();
}

template <typename T> QString failingField(const QJsonObject& json) {
    try {
        T::decode(json);
    } catch (const DecodingError& error) {
        return error.field;
    }
    return u"<decoded>"_s;
}

const QJsonObject kMe = parse(R"({"active":true,"devices_limit":3,"devices_used":0,"devices":[],
    "trial_available":true,"promo_available":false,"support_url":"https://t.me/s"})");
const QJsonObject kPlans =
    parse(R"({"plans":[],"payments":false,"card":false,"stripe_tiers":[],"stripe_trial_days":0})");

} // namespace

class RecordsTest : public QObject {
    Q_OBJECT

private slots:
    void presence() {
        auto me = kMe;
        me["telegram"] = QJsonValue::Null;
        me["future_member"] = QJsonArray{1, "x"}; // unknown members are ignored
        const auto decoded = Me::decode(me);
        QVERIFY(!decoded.email && !decoded.telegram && !decoded.expire_at);
        me["email"] = 42; // an optional member that is there must have its type
        QCOMPARE(failingField<Me>(me), u"email"_s);

        for (const auto* member : {"active", "devices_limit", "devices_used", "devices", "trial_available",
                                   "promo_available", "support_url"}) {
            auto missing = kMe;
            missing.remove(QLatin1String(member));
            QCOMPARE(failingField<Me>(missing), QLatin1String(member));
            missing[QLatin1String(member)] = QJsonValue::Null;
            QCOMPARE(failingField<Me>(missing), QLatin1String(member));
        }

        const auto device = Device::decode(QJsonObject{});
        QVERIFY(!device.hwid && !device.model && !device.os && !device.version);
        QVERIFY(Plans::decode(kPlans).plans.isEmpty());
    }

    void integersMustBeWhole_data() {
        QTest::addColumn<QByteArray>("price");
        QTest::addColumn<qint64>("value"); // -1: must fail
        QTest::newRow("199") << "199"_ba << qint64(199);
        QTest::newRow("int64 max") << "9223372036854775807"_ba << std::numeric_limits<qint64>::max();
        QTest::newRow("5.0") << "5.0"_ba << qint64(5);
        for (const char* price : {"5.5", "9223372036854775808", "1e30", "\"199\"", "true"})
            QTest::newRow(price) << QByteArray(price) << qint64(-1);
    }

    void integersMustBeWhole() {
        QFETCH(QByteArray, price);
        QFETCH(qint64, value);
        const auto json = parse(R"({"code":"m","days":1,"devices":1,"price":)" + price + "}");
        if (value >= 0)
            QCOMPARE(Plan::decode(json).price, value);
        else
            QCOMPARE(failingField<Plan>(json), u"price"_s);
    }

    void listsAndFloats() {
        auto plans = kPlans;
        plans["stripe_tiers"] = QJsonArray{QJsonObject{{"devices", 1}, {"monthly", 5}, {"yearly", 49.99}}};
        QCOMPARE(Plans::decode(plans).stripe_tiers.value(0), (StripeTier{1, 5.0, 49.99}));
        plans["stripe_tiers"] = QJsonArray{QJsonObject{{"devices", 1}, {"monthly", "5"}, {"yearly", 1}}};
        QCOMPARE(failingField<Plans>(plans), u"stripe_tiers[0].monthly"_s);
        plans = kPlans;
        plans["plans"] = QJsonArray{QJsonObject{{"code", "a"}, {"days", 1}, {"devices", 1}, {"price", 1}}, 5};
        QCOMPARE(failingField<Plans>(plans), u"plans[1]"_s);
        plans["plans"] = QJsonObject{};
        QCOMPARE(failingField<Plans>(plans), u"plans"_s);
    }

    // The state compares whole lists of plans and tiers: equal values must hash alike.
    void valueEqualityAndHash() {
        QCOMPARE((QSet<Plan>{{"m1", 30, 3, 199}, {"m1", 30, 3, 199}, {"m1", 30, 3, 200}}.size()), 2);
        const StripeTier zero{1, 0.0, 5.0};
        const StripeTier negativeZero{1, -0.0, 5.0};
        QCOMPARE(zero, negativeZero);
        QCOMPARE(qHash(zero), qHash(negativeZero));
    }

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

QTEST_GUILESS_MAIN(RecordsTest)
#include "tst_records.moc"
