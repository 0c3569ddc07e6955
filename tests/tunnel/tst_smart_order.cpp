#include "tunnel/SmartOrder.h"

#include <QTest>
#include <QUuid>

namespace {

ServerProfile server(const QString& name) {
    return ServerProfile{QUuid::createUuid(), name, {}};
}

} // namespace

class TestSmartOrder : public QObject {
    Q_OBJECT
private slots:
    void orders_data() {
        QTest::addColumn<QStringList>("profiles");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("lastGood"); // "" = nothing stored
        QTest::addColumn<QStringList>("expected");

        // Names are separated by "|"; the four-member group is "Европа Wi-Fi 1|Европа авто|Европа
        // резерв|Европа 2".
        const auto row = [](const char* tag, QString profiles, const char* selected, const char* lastGood,
                            const char* expected) {
            profiles.replace("four", "Европа Wi-Fi 1|Европа авто|Европа резерв|Европа 2");
            QTest::newRow(tag) << profiles.split('|', Qt::SkipEmptyParts) << QString(selected)
                               << QString(lastGood) << QString(expected).split('|');
        };
        row("roles after the last good one", "four", "Европа 2", "Европа авто",
            "Европа 2|Европа авто|Европа Wi-Fi 1|Европа резерв");
        row("outside the group: alone whatever lastGood says", "Амстердам|Европа Wi-Fi 1", "Амстердам",
            "Европа Wi-Fi 1", "Амстердам");
        row("empty list: the choice alone", "", "Европа 2", "", "Европа 2");
        row("last good is the choice: listed once", "four", "Европа авто", "Европа авто",
            "Европа авто|Европа Wi-Fi 1|Европа резерв");
        row("last good gone from the list", "four", "Европа 2", "Европа 9",
            "Европа 2|Европа Wi-Fi 1|Европа авто|Европа резерв");
        row("last good outside the group is ignored", "four|Азия авто", "Европа 2", "Азия авто",
            "Европа 2|Европа Wi-Fi 1|Европа авто|Европа резерв");
        row("choice missing from the list still first", "Европа авто", "Европа 7", "",
            "Европа 7|Европа авто");
        row("lower-case group word is not the group", "европа авто|Европа резерв", "Европа 1", "",
            "Европа 1|Европа резерв");
        row("two role words: first list wins the place", "Европа резерв|Европа авто Wi-Fi|Европа авто",
            "Европа 1", "", "Европа 1|Европа авто Wi-Fi|Европа авто|Европа резерв");
        row("member without a role only as choice or last good", "Европа 3|Европа 4|Европа резерв",
            "Европа 3", "Европа 4", "Европа 3|Европа 4|Европа резерв");
        row("duplicate names in the list collapse", "Европа авто|Европа авто", "Европа 1", "",
            "Европа 1|Европа авто");
    }
    void orders() {
        QFETCH(QStringList, profiles);
        QFETCH(QString, selected);
        QFETCH(QString, lastGood);
        QFETCH(QStringList, expected);
        const auto stored = lastGood.isEmpty() ? std::nullopt : std::optional<QString>(lastGood);
        QList<ServerProfile> list;
        for (const QString& name : profiles)
            list.append(server(name));
        QStringList names;
        for (const ServerProfile& candidate : smartOrder(server(selected), list, stored))
            names.append(candidate.name);
        QCOMPARE(names, expected);
    }
};

QTEST_GUILESS_MAIN(TestSmartOrder)
#include "tst_smart_order.moc"
