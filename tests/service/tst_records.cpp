// Decoding the service's records: presence, exact JSON types, which field a failure names.

#include "service/Errors.h"
#include "service/Records.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QTest>

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
    return QStringLiteral("<decoded>");
}

QJsonObject plansJson() {
    return parse(R"({"plans":[{"code":"m1","days":30,"devices":3,"price":199},
                              {"code":"y1","days":365,"devices":5,"price":1990}],
                     "payments":true,"card":true,
                     "stripe_tiers":[{"devices":3,"monthly":5,"yearly":49.99}],
                     "stripe_trial_days":7,"future_member":{"x":[1,2]}})");
}

QJsonObject meJson() {
    return parse(R"({"active":true,"devices_limit":3,"devices_used":0,"devices":[],
                     "trial_available":true,"promo_available":false,"support_url":"https://t.me/s"})");
}

} // namespace

class RecordsTest : public QObject {
    Q_OBJECT

private slots:
    void optionalMembersTakeAbsentAndNull() {
        auto json = meJson();
        json["telegram"] = QJsonValue::Null;
        json["expire_at"] = "2026-02-01T10:00:00Z";
        const auto me = Me::decode(json);
        QVERIFY(!me.email);
        QVERIFY(!me.telegram);
        QCOMPARE(me.expire_at, QString("2026-02-01T10:00:00Z"));
        QCOMPARE(me.support_url, QStringLiteral("https://t.me/s"));

        json["email"] = 42; // present but not a string
        QCOMPARE(failingField<Me>(json), QStringLiteral("email"));
    }

    void requiredMembersMustBeThereAndNotNull() {
        for (const auto* member : {"active", "devices_limit", "devices_used", "devices", "trial_available",
                                   "promo_available", "support_url"}) {
            auto missing = meJson();
            missing.remove(QLatin1String(member));
            QCOMPARE(failingField<Me>(missing), QLatin1String(member));
            auto null = meJson();
            null[QLatin1String(member)] = QJsonValue::Null;
            QCOMPARE(failingField<Me>(null), QLatin1String(member));
        }
    }

    void firstFailingFieldInDocumentedOrder() {
        // Both are wrong; "active" comes first.
        auto json = meJson();
        json["support_url"] = 1;
        json["active"] = "yes";
        QCOMPARE(failingField<Me>(json), QStringLiteral("active"));
    }

    void integersMustBeWhole_data() {
        QTest::addColumn<QByteArray>("price");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<qint64>("value");
        QTest::newRow("integer") << QByteArray("199") << true << qint64(199);
        QTest::newRow("negative") << QByteArray("-3") << true << qint64(-3);
        QTest::newRow("int64 max") << QByteArray("9223372036854775807") << true
                                   << std::numeric_limits<qint64>::max();
        QTest::newRow("whole number written with a point") << QByteArray("5.0") << true << qint64(5);
        QTest::newRow("fraction") << QByteArray("5.5") << false << qint64(0);
        QTest::newRow("beyond int64") << QByteArray("9223372036854775808") << false << qint64(0);
        QTest::newRow("huge exponent") << QByteArray("1e30") << false << qint64(0);
        QTest::newRow("string") << QByteArray("\"199\"") << false << qint64(0);
        QTest::newRow("boolean") << QByteArray("true") << false << qint64(0);
    }

    void integersMustBeWhole() {
        QFETCH(QByteArray, price);
        QFETCH(bool, decodes);
        QFETCH(qint64, value);
        const auto json = parse(R"({"code":"m","days":1,"devices":1,"price":)" + price + "}");
        QVERIFY(!json.isEmpty());
        if (decodes)
            QCOMPARE(Plan::decode(json).price, value);
        else
            QCOMPARE(failingField<Plan>(json), QStringLiteral("price"));
    }

    void floatsTakeAnyNumber() {
        const auto plans = Plans::decode(plansJson());
        QCOMPARE(plans.stripe_tiers.value(0).monthly, 5.0);
        QCOMPARE(plans.stripe_tiers.value(0).yearly, 49.99);
        QCOMPARE(plans.plans.size(), 2);
        QCOMPARE(plans.plans[1].code, QStringLiteral("y1"));
        QCOMPARE(plans.stripe_trial_days, 7);

        auto json = plansJson();
        json["stripe_tiers"] = QJsonArray{QJsonObject{{"devices", 1}, {"monthly", "5"}, {"yearly", 1}}};
        QCOMPARE(failingField<Plans>(json), QStringLiteral("stripe_tiers[0].monthly"));
    }

    void nestedFailuresNameTheirPlace() {
        auto json = plansJson();
        auto list = json["plans"].toArray();
        list.append(QJsonObject{{"code", "z"}, {"days", 1}, {"devices", 1}, {"price", 0.5}});
        json["plans"] = list;
        QCOMPARE(failingField<Plans>(json), QStringLiteral("plans[2].price"));

        json = plansJson();
        json["plans"] = QJsonArray{QJsonObject{{"code", "a"}, {"days", 1}, {"devices", 1}, {"price", 1}}, 5};
        QCOMPARE(failingField<Plans>(json), QStringLiteral("plans[1]"));

        json = plansJson();
        json["plans"] = QJsonObject{};
        QCOMPARE(failingField<Plans>(json), QStringLiteral("plans"));
    }

    void emptyCatalogueAndEmptyDevice() {
        const auto plans = Plans::decode(
            parse(R"({"plans":[],"payments":false,"card":false,"stripe_tiers":[],"stripe_trial_days":0})"));
        QVERIFY(plans.plans.isEmpty());
        QVERIFY(!plans.payments);
        const auto device = Device::decode(QJsonObject{});
        QVERIFY(!device.hwid && !device.model && !device.os && !device.version);
    }

    void everyRecordDecodesItsFields() {
        QCOMPARE(TokenResp::decode(parse(R"({"token":"t","extra":1})")).token, QStringLiteral("t"));
        QCOMPARE(failingField<TokenResp>(parse(R"({"token":null})")), QStringLiteral("token"));
        QCOMPARE(TgStart::decode(parse(R"({"key":"k","url":"u"})")).url, QStringLiteral("u"));
        QCOMPARE(failingField<TgStart>(parse(R"({"key":"k"})")), QStringLiteral("url"));
        const auto pay = PayResp::decode(parse(R"({"order_id":77,"amount":300,"url":"p"})"));
        QCOMPARE(pay.order_id, 77);
        QCOMPARE(pay.amount, 300);
        QCOMPARE(PayStatus::decode(parse(R"({"status":"paid"})")).status, QStringLiteral("paid"));
        QCOMPARE(StripeUrl::decode(parse(R"({"url":"s"})")).url, QStringLiteral("s"));
        QCOMPARE(failingField<PromoResp>(parse(R"({"ok":1,"message":"m"})")), QStringLiteral("ok"));
        QCOMPARE(failingField<PromoResp>(parse(R"({"ok":false})")), QStringLiteral("message"));
        const auto version =
            AppVersion::decode(parse(R"({"version_code":5,"version_name":"1.1","url":"u","notes":""})"));
        QCOMPARE(version.version_code, 5);
        QCOMPARE(failingField<AppVersion>(
                     parse(R"({"version_code":5.1,"version_name":"1.1","url":"u","notes":""})")),
                 QStringLiteral("version_code"));
        const auto referral = Referral::decode(parse(
            R"({"code":"c","link":"l","invited":1,"paid":2,"days":3,"days_invite":4,"days_paid":5,"days_friend":6})"));
        QCOMPARE(referral.days_paid, 5);
        QCOMPARE(referral.days_friend, 6);
        QCOMPARE(
            failingField<Referral>(parse(
                R"({"code":"c","link":"l","invited":1,"paid":2,"days":3,"days_invite":4,"days_paid":5})")),
            QStringLiteral("days_friend"));
    }

    void valueEqualityAndHash() {
        const Device a{QString("h"), std::nullopt, QString("Linux"), std::nullopt};
        Device b = a;
        QCOMPARE(a, b);
        QCOMPARE(qHash(a), qHash(b));
        b.model = QString(); // present but empty differs from absent
        QVERIFY(!(a == b));

        const Plan p{"m1", 30, 3, 199};
        QCOMPARE(qHash(p, 7), qHash(Plan{"m1", 30, 3, 199}, 7));
        QSet<Plan> plans{p, Plan{"m1", 30, 3, 199}, Plan{"m1", 30, 3, 200}};
        QCOMPARE(plans.size(), 2);

        const StripeTier zero{1, 0.0, 5.0};
        const StripeTier negativeZero{1, -0.0, 5.0};
        QCOMPARE(zero, negativeZero);
        QCOMPARE(qHash(zero), qHash(negativeZero));
        QVERIFY(!(zero == StripeTier{1, 0.0, 5.5}));
    }

    void errorsCarryTheirText() {
        const ApiError error(403, QStringLiteral("Лимит"), QStringLiteral("device_limit"));
        QCOMPARE(QString::fromUtf8(error.what()), QStringLiteral("Лимит"));
        QCOMPARE(QString::fromUtf8(Fail(QStringLiteral("Не удалось")).what()), QStringLiteral("Не удалось"));
        QCOMPARE(QString::fromUtf8(DecodingError("devices[0].hwid", "missing").what()),
                 QStringLiteral("devices[0].hwid: missing"));
    }
};

QTEST_GUILESS_MAIN(RecordsTest)
#include "tst_records.moc"
