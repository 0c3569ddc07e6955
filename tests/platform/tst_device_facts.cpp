#include "platform/DeviceFacts.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestDeviceFacts : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString file(const QString& name) const { return m_dir.filePath(name); }
    void write(const QString& name, const QByteArray& bytes) {
        QFile out(file(name));
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(bytes);
    }
    LinuxDeviceFacts facts() const {
        return LinuxDeviceFacts({file(u"etc-machine-id"_qs), file(u"dbus-machine-id"_qs)},
                                file(u"product_name"_qs));
    }

private slots:
    void init() {
        for (const auto& name : {u"etc-machine-id"_qs, u"dbus-machine-id"_qs, u"product_name"_qs})
            QFile::remove(file(name));
    }

    void machineIdFromFirstReadableFile_data() {
        QTest::addColumn<std::optional<QByteArray>>("first");
        QTest::addColumn<std::optional<QByteArray>>("second");
        QTest::addColumn<QString>("expected");
        const std::optional<QByteArray> missing;
        QTest::newRow("first, trimmed") << std::optional<QByteArray>("  aaaa1111\n")
                                        << std::optional<QByteArray>("bbbb2222\n") << u"aaaa1111"_qs;
        QTest::newRow("first missing")
            << missing << std::optional<QByteArray>("bbbb2222\n") << u"bbbb2222"_qs;
        QTest::newRow("first blank") << std::optional<QByteArray>(" \n")
                                     << std::optional<QByteArray>("bbbb2222") << u"bbbb2222"_qs;
        QTest::newRow("both missing") << missing << missing << QString();
        QTest::newRow("both blank") << std::optional<QByteArray>("") << std::optional<QByteArray>("\n")
                                    << QString();
    }
    void machineIdFromFirstReadableFile() {
        QFETCH(std::optional<QByteArray>, first);
        QFETCH(std::optional<QByteArray>, second);
        QFETCH(QString, expected);
        if (first)
            write(u"etc-machine-id"_qs, *first);
        if (second)
            write(u"dbus-machine-id"_qs, *second);
        QCOMPARE(facts().platformUuid(), expected);
    }

    void modelIsReadOnEveryCall() {
        const LinuxDeviceFacts reader = facts();
        QCOMPARE(reader.model(), QString());
        write(u"product_name"_qs, "ThinkPad X1 Carbon Gen 11\n");
        QCOMPARE(reader.model(), u"ThinkPad X1 Carbon Gen 11\n"_qs); // untrimmed: Store trims
        write(u"product_name"_qs, "Latitude 7440\n");
        QCOMPARE(reader.model(), u"Latitude 7440\n"_qs);
        write(u"product_name"_qs, "bad \xff\xfe bytes\n");
        QCOMPARE(reader.model(), QString());
    }

    void osVersionNamesTheKernel() {
        const QString text = LinuxDeviceFacts().osVersionText();
        QVERIFY2(text.endsWith(u' ' + QSysInfo::kernelVersion()), qPrintable(text));
        QVERIFY(text.size() > QSysInfo::kernelVersion().size() + 1);
    }
};

QTEST_GUILESS_MAIN(TestDeviceFacts)
#include "tst_device_facts.moc"
