// The device facts sent with every request, the stored settings, and the two small helpers they
// rest on. (The token store only forwards to the secure store; the requests' bearer header covers it.)

#include "device/Sha256.h"
#include "device/ShellOut.h"
#include "device/Store.h"
#include "platform/Defaults.h"
#include "support/FakeDeviceFacts.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class DeviceTest : public QObject {
    Q_OBJECT

    MemoryDefaults defaults;
    FakeDeviceFacts facts;

private slots:
    void init() {
        defaults = MemoryDefaults();
        facts = FakeDeviceFacts();
    }

    void digest() {
        QCOMPARE(sha256(u"abc"_s), u"ba7816bf8f01cfea414140de5dae2223"_s);
        QCOMPARE(sha256(u"é"_s), u"4a99557e4033c3539de2eb65472017ca"_s); // of the UTF-8 bytes C3 A9
    }

    void hwid() {
        const Store store(defaults, facts);
        const auto derived = sha256("vemko:" + facts.uuid);
        QCOMPARE(store.hwid(), derived);
        facts.uuid = u"another machine"_s;
        QCOMPARE(store.hwid(), derived); // kept from the first computation
        QCOMPARE(defaults.string(u"hwid"_s), derived);

        defaults.setString(u"hwid"_s, u"legacy-ID not hex"_s);
        QCOMPARE(store.hwid(), u"legacy-ID not hex"_s); // a stored value is taken untouched
        defaults.setInteger(u"hwid"_s, 5);              // not an identifier: derived anew
        QCOMPARE(store.hwid(), sha256(u"vemko:another machine"_s));

        MemoryDefaults fresh;
        facts.uuid.clear(); // no machine id: still a stable identifier
        QCOMPARE(Store(fresh, facts).hwid(), sha256(u"vemko:"_s));
    }

    // Trimmed (the request headers show it), and never empty.
    void modelIsNeverEmpty() {
        facts.modelText = u" \r\n"_s;
        QCOMPARE(Store(defaults, facts).deviceModel(), u"PC"_s);
    }

    void build_data() {
        QTest::addColumn<std::optional<QString>>("text");
        QTest::addColumn<qint64>("number");
        QTest::newRow("12") << std::optional(u"12"_s) << qint64(12);
        QTest::newRow("+7") << std::optional(u"+7"_s) << qint64(7);
        QTest::newRow("int64 min") << std::optional(u"-9223372036854775808"_s)
                                   << std::numeric_limits<qint64>::min();
        QTest::newRow("missing") << std::optional<QString>() << qint64(1);
        for (const char* text : {"9223372036854775808", "1.2", "", "-", " 12", "١٢"})
            QTest::addRow("'%s'", text) << std::optional(QString::fromUtf8(text)) << qint64(1);
    }

    void build() {
        QFETCH(std::optional<QString>, text);
        QFETCH(qint64, number);
        QCOMPARE(Store(defaults, facts, BundleInfo{u"2.0.1"_s, text, false}).appBuild(), number);
    }

    // On unless the user turned it off; a value of another type does not count as off.
    void behaviourSettings() {
        const Store store(defaults, facts);
        QVERIFY(store.autoConnect() && store.autoUpdate());
        defaults.setBoolean(u"auto_connect"_s, false);
        defaults.setBoolean(u"auto_update"_s, false);
        QVERIFY(!store.autoConnect() && !store.autoUpdate());
        defaults.setString(u"auto_connect"_s, u"false"_s);
        defaults.setInteger(u"auto_update"_s, 0);
        QVERIFY(store.autoConnect() && store.autoUpdate());
    }

    void shellOut() {
        // No shell: arguments arrive as written. Standard error is dropped, the exit status ignored.
        QCOMPARE(::shellOut(u"/bin/echo"_s, {u"a  b"_s, u"$HOME;"_s}), u"a  b $HOME;\n"_s);
        QCOMPARE(::shellOut(u"/bin/sh"_s, {u"-c"_s, u"echo out; echo e >&2; exit 3"_s}), u"out\n"_s);
        QCOMPARE(::shellOut(u"/bin/printf"_s, {u"ok\\377\\376"_s}), QString()); // not UTF-8
        QCOMPARE(::shellOut(u"/bin/cat"_s, {}), QString()); // sees the end of its input, no hang
        QCOMPARE(::shellOut(u"/nonexistent/tool"_s, {}), QString());
        QTemporaryDir dir;
        QFile script(dir.filePath(u"tool"_s));
        QVERIFY(script.open(QIODevice::WriteOnly) && script.write("#!/bin/sh\necho hi\n") > 0);
        script.close();
        QCOMPARE(::shellOut(script.fileName(), {}), QString()); // not executable
    }
};

QTEST_GUILESS_MAIN(DeviceTest)
#include "tst_device.moc"
