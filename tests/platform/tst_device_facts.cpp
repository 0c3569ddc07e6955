#include "platform/DeviceFacts.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using MaybeBytes = std::optional<QByteArray>;

class TestDeviceFacts : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString file(const QString& name) const { return m_dir.filePath(name); }
    void write(const QString& name, const MaybeBytes& bytes) {
        QFile::remove(file(name));
        QFile out(file(name));
        QVERIFY(!bytes || (out.open(QIODevice::WriteOnly) && out.write(*bytes) == bytes->size()));
    }
    LinuxDeviceFacts facts() const {
        return LinuxDeviceFacts({file(u"etc-machine-id"_qs), file(u"dbus-machine-id"_qs)},
                                file(u"product_name"_qs));
    }

private slots:
    void machineIdFromFirstUsableFile_data() {
        QTest::addColumn<MaybeBytes>("first");
        QTest::addColumn<MaybeBytes>("second");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first, trimmed")
            << MaybeBytes("  aaaa1111\n") << MaybeBytes("bbbb2222\n") << u"aaaa1111"_qs;
        QTest::newRow("first missing") << MaybeBytes() << MaybeBytes("bbbb2222\n") << u"bbbb2222"_qs;
        QTest::newRow("first blank") << MaybeBytes(" \n") << MaybeBytes("bbbb2222") << u"bbbb2222"_qs;
        QTest::newRow("both missing") << MaybeBytes() << MaybeBytes() << QString();
        QTest::newRow("both blank") << MaybeBytes("") << MaybeBytes("\n") << QString();
    }
    void machineIdFromFirstUsableFile() {
        QFETCH(MaybeBytes, first);
        QFETCH(MaybeBytes, second);
        QFETCH(QString, expected);
        write(u"etc-machine-id"_qs, first);
        write(u"dbus-machine-id"_qs, second);
        QCOMPARE(facts().platformUuid(), expected);
    }

    void modelIsReadOnEveryCall() {
        const LinuxDeviceFacts reader = facts();
        QCOMPARE(reader.model(), QString());
        write(u"product_name"_qs, "ThinkPad X1 Carbon Gen 11\n");
        QCOMPARE(reader.model(), u"ThinkPad X1 Carbon Gen 11\n"_qs); // untrimmed: Store trims
        write(u"product_name"_qs, "bad \xff\xfe bytes\n");
        QCOMPARE(reader.model(), QString());
    }

    void osVersionNamesTheKernel() {
        QVERIFY(LinuxDeviceFacts().osVersionText().endsWith(u' ' + QSysInfo::kernelVersion()));
    }
};

QTEST_GUILESS_MAIN(TestDeviceFacts)
#include "tst_device_facts.moc"
