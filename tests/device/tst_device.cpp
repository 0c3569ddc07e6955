// The device facts sent with every request, the stored settings, the token store, and the two
// small helpers they rest on.

#include "device/Keychain.h"
#include "device/Sha256.h"
#include "device/ShellOut.h"
#include "device/Store.h"
#include "platform/Defaults.h"
#include "support/FakeDeviceFacts.h"
#include "support/FakeSecureStore.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class DeviceTest : public QObject {
    Q_OBJECT

private slots:
    void digest() {
        QCOMPARE(sha256(QStringLiteral("abc")), QStringLiteral("ba7816bf8f01cfea414140de5dae2223"));
        // The UTF-8 bytes are hashed (C3 A9), not UTF-16 or Latin-1 ones.
        QCOMPARE(sha256(QStringLiteral("é")), QStringLiteral("4a99557e4033c3539de2eb65472017ca"));
        QCOMPARE(sha256(QString()), QStringLiteral("e3b0c44298fc1c149afbf4c8996fb924"));
    }

    void hwidStoredValueWinsUntouched() {
        MemoryDefaults defaults;
        FakeDeviceFacts facts;
        defaults.setString(QStringLiteral("hwid"), QStringLiteral("legacy-ID not hex"));
        const Store store(defaults, facts);
        QCOMPARE(store.hwid(), QStringLiteral("legacy-ID not hex"));
    }

    void hwidDerivedOnceAndKept() {
        MemoryDefaults defaults;
        FakeDeviceFacts facts;
        const Store store(defaults, facts);
        const auto expected = sha256(QStringLiteral("vemko:") + facts.uuid);
        QCOMPARE(store.hwid(), expected);
        QCOMPARE(defaults.string(QStringLiteral("hwid")), expected);
        facts.uuid = QStringLiteral("another machine id");
        QCOMPARE(store.hwid(), expected); // the stored value, not a new derivation

        // A value of another type under the key is not an identifier: derive and replace it.
        MemoryDefaults odd;
        odd.setInteger(QStringLiteral("hwid"), 5);
        QCOMPARE(Store(odd, facts).hwid(), sha256(QStringLiteral("vemko:another machine id")));
    }

    void hwidWithoutMachineId() {
        MemoryDefaults defaults;
        FakeDeviceFacts facts;
        facts.uuid.clear();
        const auto hwid = Store(defaults, facts).hwid();
        QCOMPARE(hwid, sha256(QStringLiteral("vemko:")));
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(hwid).hasMatch());
    }

    void modelTrimmedReadEveryTime() {
        MemoryDefaults defaults;
        FakeDeviceFacts facts;
        const Store store(defaults, facts);
        QCOMPARE(store.deviceModel(), QStringLiteral("ThinkPad X1 Carbon"));
        facts.modelText = QStringLiteral("\n");
        QCOMPARE(store.deviceModel(), QStringLiteral("PC"));
        facts.modelText.clear();
        QCOMPARE(store.deviceModel(), QStringLiteral("PC"));
        facts.modelText = QStringLiteral(" \tOptiPlex 7090\r\n");
        QCOMPARE(store.deviceModel(), QStringLiteral("OptiPlex 7090"));
    }

    void versionAndBuild_data() {
        QTest::addColumn<std::optional<QString>>("version");
        QTest::addColumn<qint64>("build");
        QTest::newRow("12") << std::optional<QString>(QStringLiteral("12")) << qint64(12);
        QTest::newRow("+7") << std::optional<QString>(QStringLiteral("+7")) << qint64(7);
        QTest::newRow("-3") << std::optional<QString>(QStringLiteral("-3")) << qint64(-3);
        QTest::newRow("int64 max") << std::optional<QString>(QStringLiteral("9223372036854775807"))
                                   << std::numeric_limits<qint64>::max();
        QTest::newRow("int64 min") << std::optional<QString>(QStringLiteral("-9223372036854775808"))
                                   << std::numeric_limits<qint64>::min();
        QTest::newRow("overflow") << std::optional<QString>(QStringLiteral("9223372036854775808"))
                                  << qint64(1);
        QTest::newRow("dotted") << std::optional<QString>(QStringLiteral("1.2")) << qint64(1);
        QTest::newRow("empty") << std::optional<QString>(QString()) << qint64(1);
        QTest::newRow("missing") << std::optional<QString>() << qint64(1);
        QTest::newRow("sign only") << std::optional<QString>(QStringLiteral("-")) << qint64(1);
        QTest::newRow("spaces") << std::optional<QString>(QStringLiteral(" 12")) << qint64(1);
        QTest::newRow("letters") << std::optional<QString>(QStringLiteral("12b")) << qint64(1);
        QTest::newRow("non-ASCII digits") << std::optional<QString>(QStringLiteral("١٢")) << qint64(1);
    }

    void versionAndBuild() {
        QFETCH(std::optional<QString>, version);
        QFETCH(qint64, build);
        MemoryDefaults defaults;
        FakeDeviceFacts facts;
        const Store store(defaults, facts, BundleInfo{QStringLiteral("2.0.1"), version, false});
        QCOMPARE(store.appBuild(), build);
        QCOMPARE(store.appVersion(), QStringLiteral("2.0.1"));
    }

    void versionFallback() {
        MemoryDefaults defaults;
        FakeDeviceFacts facts;
        QCOMPARE(Store(defaults, facts, BundleInfo{}).appVersion(), QStringLiteral("1.0.0"));
        QCOMPARE(Store(defaults, facts, BundleInfo{QString(), {}, false}).appVersion(),
                 QStringLiteral("1.0.0"));
    }

    void behaviourSettings() {
        MemoryDefaults defaults;
        FakeDeviceFacts facts;
        const Store store(defaults, facts);
        QVERIFY(store.autoConnect());
        QVERIFY(store.autoUpdate());
        defaults.setBoolean(QStringLiteral("auto_connect"), false);
        defaults.setBoolean(QStringLiteral("auto_update"), false);
        QVERIFY(!store.autoConnect());
        QVERIFY(!store.autoUpdate());
        defaults.setString(QStringLiteral("auto_connect"), QStringLiteral("false"));
        defaults.setInteger(QStringLiteral("auto_update"), 0);
        QVERIFY(store.autoConnect());
        QVERIFY(store.autoUpdate());
    }

    void platformWords() {
        MemoryDefaults defaults;
        FakeDeviceFacts facts;
        const Store store(defaults, facts);
        QCOMPARE(store.osWord(), QStringLiteral("Linux"));
        QCOMPARE(store.platformQuery(), QStringLiteral("linux"));
        QCOMPARE(store.osVersionText(), facts.versionText);
    }

    void keychain() {
        FakeSecureStore secure;
        Keychain keychain(secure);
        QCOMPARE(keychain.read(QStringLiteral("token")), std::nullopt);
        keychain.remove(QStringLiteral("token")); // nothing there: harmless

        keychain.write(QStringLiteral("token"), QStringLiteral("first"));
        keychain.write(QStringLiteral("token"), QStringLiteral("второй-ключ ✓"));
        QCOMPARE(secure.items.size(), 1);
        QCOMPARE(keychain.read(QStringLiteral("token")), QStringLiteral("второй-ключ ✓"));

        // A locked keyring refuses the write: the user stays signed in with the old token.
        secure.refuseWrites = true;
        keychain.write(QStringLiteral("token"), QStringLiteral("third"));
        QCOMPARE(keychain.read(QStringLiteral("token")), QStringLiteral("второй-ключ ✓"));

        keychain.remove(QStringLiteral("token"));
        QCOMPARE(keychain.read(QStringLiteral("token")), std::nullopt);
    }

    void shellOutRunsWithoutShell() {
        QCOMPARE(shellOut(QStringLiteral("/bin/echo"), {QStringLiteral("a  b"), QStringLiteral("$HOME;")}),
                 QStringLiteral("a  b $HOME;\n"));
        // Standard error is discarded; the exit status is not looked at.
        QCOMPARE(shellOut(QStringLiteral("/bin/sh"),
                          {QStringLiteral("-c"), QStringLiteral("echo out; echo err >&2; exit 3")}),
                 QStringLiteral("out\n"));
        QCOMPARE(shellOut(QStringLiteral("/bin/printf"), {QStringLiteral("Модель\\n")}),
                 QStringLiteral("Модель\n"));
    }

    void shellOutFailures() {
        QCOMPARE(shellOut(QStringLiteral("/nonexistent/tool"), {}), QString());
        QTemporaryDir dir;
        const auto notExecutable = dir.filePath(QStringLiteral("tool"));
        QFile file(notExecutable);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\necho hi\n");
        file.close();
        QCOMPARE(shellOut(notExecutable, {}), QString());
        QCOMPARE(shellOut(QStringLiteral("/bin/printf"), {QStringLiteral("ok\\377\\376")}), QString());
        // A tool that reads its input sees the end of it at once instead of hanging.
        QCOMPARE(shellOut(QStringLiteral("/bin/cat"), {}), QString());
    }
};

QTEST_GUILESS_MAIN(DeviceTest)
#include "tst_device.moc"
