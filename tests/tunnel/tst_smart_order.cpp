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

        const QStringList four{"Европа Wi-Fi 1", "Европа авто", "Европа резерв", "Европа 2"};
        QTest::newRow("roles after the last good one")
            << four << "Европа 2"
            << "Европа авто" << QStringList{"Европа 2", "Европа авто", "Европа Wi-Fi 1", "Европа резерв"};
        QTest::newRow("outside the group: alone whatever lastGood says")
            << QStringList{"Амстердам", "Европа Wi-Fi 1"} << "Амстердам"
            << "Европа Wi-Fi 1" << QStringList{"Амстердам"};
        QTest::newRow("empty list: the choice alone") << QStringList{} << "Европа 2"
                                                      << "" << QStringList{"Европа 2"};
        QTest::newRow("last good is the choice: listed once")
            << four << "Европа авто"
            << "Европа авто" << QStringList{"Европа авто", "Европа Wi-Fi 1", "Европа резерв"};
        QTest::newRow("last good gone from the list")
            << four << "Европа 2"
            << "Европа 9" << QStringList{"Европа 2", "Европа Wi-Fi 1", "Европа авто", "Европа резерв"};
        QTest::newRow("last good outside the group is ignored")
            << (four + QStringList{"Азия авто"}) << "Европа 2"
            << "Азия авто" << QStringList{"Европа 2", "Европа Wi-Fi 1", "Европа авто", "Европа резерв"};
        QTest::newRow("choice missing from the list still first")
            << QStringList{"Европа авто"} << "Европа 7"
            << "" << QStringList{"Европа 7", "Европа авто"};
        QTest::newRow("lower-case group word is not the group")
            << QStringList{"европа авто", "Европа резерв"} << "Европа 1"
            << "" << QStringList{"Европа 1", "Европа резерв"};
        QTest::newRow("two role words: first list wins the place")
            << QStringList{"Европа резерв", "Европа авто Wi-Fi", "Европа авто"} << "Европа 1"
            << "" << QStringList{"Европа 1", "Европа авто Wi-Fi", "Европа авто", "Европа резерв"};
        QTest::newRow("member without a role only as choice or last good")
            << QStringList{"Европа 3", "Европа 4", "Европа резерв"} << "Европа 3"
            << "Европа 4" << QStringList{"Европа 3", "Европа 4", "Европа резерв"};
        QTest::newRow("duplicate names in the list collapse")
            << QStringList{"Европа авто", "Европа авто"} << "Европа 1"
            << "" << QStringList{"Европа 1", "Европа авто"};
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
