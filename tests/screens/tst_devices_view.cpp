// The devices screen over the real model: the counts, one card per device with its texts, the
// mark of this computer, and unbinding.

#include "AccountRig.h"
#include "Card.h"
#include "ScreenHeader.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

struct DevicesRig : AccountRig {
    void open(const QJsonArray& devices, qint64 used = 2, qint64 limit = 5) {
        signedIn({{"devices", devices}, {"devices_used", used}, {"devices_limit", limit}});
        show(makeDevicesScreen(context(), nullptr));
    }
    QList<Card*> cards() {
        QList<Card*> found;
        for (Card* card : view->findChildren<Card*>())
            if (card->objectName().startsWith("device_"))
                found.append(card);
        std::sort(found.begin(), found.end(),
                  [](Card* a, Card* b) { return a->objectName() < b->objectName(); });
        return found;
    }
    QStringList texts(const QString& label) {
        QStringList lines;
        for (Card* card : cards())
            lines.append(card->findChild<QLabel*>(label)->text());
        return lines;
    }
};

} // namespace

class DevicesViewTest : public QObject {
    Q_OBJECT
private slots:
    void withoutAccount() {
        DevicesRig rig;
        rig.serveAccount();
        rig.make();
        rig.show(makeDevicesScreen(rig.context(), nullptr));
        QCOMPARE(rig.find<ScreenHeader>({})->subtitle(), "занято 0 из 1");
        QVERIFY(rig.shown("devicesEmpty"));
    }

    // Names, details and the mark, in the service's order: the mark needs the exact identifier.
    void cardsInServiceOrder() {
        DevicesRig rig;
        const QString local = rig.api.store.hwid();
        rig.open(
            {QJsonObject{
                 {"hwid", "zz-other"}, {"model", "MacBook Air"}, {"os", "macOS 14.5"}, {"version", "1.2"}},
             QJsonObject{{"hwid", local}, {"model", "ThinkPad X1"}, {"os", "Debian 12"}},
             QJsonObject{{"hwid", local.toUpper()}, {"version", "1.3"}},
             QJsonObject{{"model", "Без идентификатора"}}, QJsonObject{}},
            4, 5);
        QCOMPARE(rig.find<ScreenHeader>({})->subtitle(), "занято 4 из 5");
        QCOMPARE(rig.texts("deviceName"), (QStringList{"MacBook Air", "ThinkPad X1 · этот компьютер",
                                                       "Устройство", "Без идентификатора", "Устройство"}));
        QCOMPARE(rig.texts("deviceDetails"), (QStringList{"macOS 14.5 1.2", "Debian 12", "1.3", "", ""}));
        QVERIFY(!rig.shown("devicesEmpty"));
        QCOMPARE(misnamedControls(rig.view.get()), QStringList());
    }

    void unbind() {
        DevicesRig rig;
        rig.service().on("POST", "/api/v1/devices/delete", ok("{}"));
        rig.open({QJsonObject{{"model", "Без идентификатора"}},
                  QJsonObject{{"hwid", "h-2"}, {"model", "Ноутбук"}}});
        QTest::mouseClick(rig.cards()[0]->findChild<QPushButton*>("unbindButton"), Qt::LeftButton);
        rig.settle();
        QVERIFY(rig.calls().isEmpty());
        QVERIFY(!rig.model->busy());

        QTest::mouseClick(rig.cards()[1]->findChild<QPushButton*>("unbindButton"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(rig.model->message(), std::optional<QString>("Устройство отвязано"), 20000);
        QCOMPARE(rig.service().requests("POST", "/api/v1/devices/delete").first().json()["hwid"].toString(),
                 "h-2");
    }
};

QTEST_MAIN(DevicesViewTest)
#include "tst_devices_view.moc"
