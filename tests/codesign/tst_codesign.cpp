#include "codesign/BundleKit.h"

#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <sys/stat.h>

using namespace bundlekit;

namespace {
constexpr int valid = 0;
constexpr int invalid = 1;
constexpr int badUsage = 2;
} // namespace

class TestCodesign : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    KeyPair m_key;
    KeyPair m_otherKey;
    int m_serial = 0;

    QString signedBundle() {
        const QString path = m_dir.filePath(QStringLiteral("b%1/Vemko VPN.AppDir").arg(++m_serial));
        makeBundle(path, QStringLiteral("2.0"));
        if (codesign(QStringLiteral("sign"), m_key.privatePem, path) != valid)
            return {};
        return path;
    }

private slots:
    void initTestCase() {
        QVERIFY(QFile::exists(codesignPath()));
        m_key = makeKeyPair(m_dir.path(), QStringLiteral("release"));
        m_otherKey = makeKeyPair(m_dir.path(), QStringLiteral("other"));
        QVERIFY(QFile::exists(m_key.publicPem) && QFile::exists(m_otherKey.publicPem));
    }

    void signedBundleVerifiesWhereverItLies() {
        const QString bundle = signedBundle();
        QVERIFY(!bundle.isEmpty());
        QVERIFY(QFile::exists(bundle + QStringLiteral("/.signature")));
        QCOMPARE(codesign(QStringLiteral("verify"), m_key.publicPem, bundle), valid);

        // The way an update travels: zipped, unpacked elsewhere, copied next to the installed app.
        const QString unpacked = m_dir.filePath(QStringLiteral("unpacked"));
        zipFolder(QFileInfo(bundle).absolutePath(), m_dir.filePath(QStringLiteral("u.zip")));
        QCOMPARE(run(QStringLiteral("unzip"), {QStringLiteral("-q"), m_dir.filePath(QStringLiteral("u.zip")),
                                               QStringLiteral("-d"), unpacked}),
                 0);
        QCOMPARE(codesign(QStringLiteral("verify"), m_key.publicPem,
                          unpacked + QStringLiteral("/Vemko VPN.AppDir")),
                 valid);
        const QString copied = m_dir.filePath(QStringLiteral("copied.AppDir"));
        QCOMPARE(run(QStringLiteral("cp"), {QStringLiteral("-a"), bundle, copied}), 0);
        QCOMPARE(codesign(QStringLiteral("verify"), m_key.publicPem, copied), valid);

        // The manifest is canonical: signing the same content again gives the same signature.
        const QByteArray first = readFile(bundle + QStringLiteral("/.signature"));
        QCOMPARE(codesign(QStringLiteral("sign"), m_key.privatePem, copied), valid);
        QCOMPARE(readFile(copied + QStringLiteral("/.signature")), first);
    }

    void tamperingFails_data() {
        QTest::addColumn<std::function<void(const QString&)>>("tamper");
        using Tamper = std::function<void(const QString&)>;
        QTest::newRow("file changed") << Tamper([](const QString& b) {
            writeFile(b + QStringLiteral("/usr/bin/vemko-vpn"), "#!/bin/sh\necho evil\n", true);
        });
        QTest::newRow("file added") << Tamper(
            [](const QString& b) { writeFile(b + QStringLiteral("/extra"), "x"); });
        QTest::newRow("nested .signature added")
            << Tamper([](const QString& b) { writeFile(b + QStringLiteral("/usr/.signature"), "x"); });
        QTest::newRow("file removed")
            << Tamper([](const QString& b) { QFile::remove(b + QStringLiteral("/VERSION")); });
        QTest::newRow("file renamed") << Tamper([](const QString& b) {
            QFile::rename(b + QStringLiteral("/VERSION"), b + QStringLiteral("/VERSION2"));
        });
        QTest::newRow("empty folder added")
            << Tamper([](const QString& b) { QDir().mkpath(b + QStringLiteral("/usr/lib")); });
        QTest::newRow("empty folder removed")
            << Tamper([](const QString& b) { QDir().rmdir(b + QStringLiteral("/usr/share/empty")); });
        QTest::newRow("mode changed") << Tamper([](const QString& b) {
            ::chmod(QFile::encodeName(b + QStringLiteral("/VERSION")).constData(), 04755);
        });
        QTest::newRow("link retargeted") << Tamper([](const QString& b) {
            QFile::remove(b + QStringLiteral("/vemko-vpn"));
            QFile::link(QStringLiteral("AppRun"), b + QStringLiteral("/vemko-vpn"));
        });
        QTest::newRow("file replaced by link") << Tamper([](const QString& b) {
            QFile::remove(b + QStringLiteral("/VERSION"));
            QFile::link(QStringLiteral("AppRun"), b + QStringLiteral("/VERSION"));
        });
        QTest::newRow("signature garbled") << Tamper(
            [](const QString& b) { writeFile(b + QStringLiteral("/.signature"), "bm90IGEgc2lnbmF0dXJl\n"); });
        QTest::newRow("signature not base64")
            << Tamper([](const QString& b) { writeFile(b + QStringLiteral("/.signature"), "***\n"); });
        QTest::newRow("signature removed")
            << Tamper([](const QString& b) { QFile::remove(b + QStringLiteral("/.signature")); });
        QTest::newRow("special file added") << Tamper([](const QString& b) {
            ::mkfifo(QFile::encodeName(b + QStringLiteral("/pipe")).constData(), 0644);
        });
    }

    void tamperingFails() {
        QFETCH(std::function<void(const QString&)>, tamper);
        const QString bundle = signedBundle();
        QVERIFY(!bundle.isEmpty());
        tamper(bundle);
        QCOMPARE(codesign(QStringLiteral("verify"), m_key.publicPem, bundle), invalid);
    }

    void anotherKeyFails() {
        const QString bundle = signedBundle();
        QCOMPARE(codesign(QStringLiteral("verify"), m_otherKey.publicPem, bundle), invalid);
        // A private key where the public one belongs, or no key at all, is no key.
        QCOMPARE(codesign(QStringLiteral("verify"), m_key.privatePem, bundle), invalid);
        QCOMPARE(codesign(QStringLiteral("verify"), m_dir.filePath(QStringLiteral("missing.pem")), bundle),
                 invalid);
    }

    void linksLeavingTheBundleFail_data() {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("target");
        QTest::newRow("absolute") << "usr/lib"
                                  << "/etc/passwd";
        QTest::newRow("absolute, into the test folder") << "usr/lib" << m_dir.filePath(QStringLiteral("x"));
        QTest::newRow("up and out") << "usr/lib"
                                    << "../../../outside";
        QTest::newRow("up and back in by name") << ""
                                                << "../Vemko VPN.AppDir/VERSION";
        // "up" climbs to the top, so "up/../x" leaves although it reads as a sibling.
        QTest::newRow("through a link") << "usr/share"
                                        << "up/../x";
    }

    void linksLeavingTheBundleFail() {
        QFETCH(QString, where);
        QFETCH(QString, target);
        const QString bundle = signedBundle();
        QDir().mkpath(bundle + '/' + where);
        QFile::link(QStringLiteral("../.."), bundle + QStringLiteral("/usr/share/up"));
        QVERIFY(QFile::link(target, bundle + '/' + where + QStringLiteral("/escape")));
        QCOMPARE(codesign(QStringLiteral("verify"), m_key.publicPem, bundle), invalid);
        QCOMPARE(codesign(QStringLiteral("sign"), m_key.privatePem, bundle), invalid);

        // Without the escaping link the same bundle signs again.
        QFile::remove(bundle + '/' + where + QStringLiteral("/escape"));
        QCOMPARE(codesign(QStringLiteral("sign"), m_key.privatePem, bundle), valid);
        QCOMPARE(codesign(QStringLiteral("verify"), m_key.publicPem, bundle), valid);
    }

    void notABundleFails() {
        const QString bundle = signedBundle();
        const QString link = m_dir.filePath(QStringLiteral("linked.AppDir"));
        QFile::link(bundle, link);
        QCOMPARE(codesign(QStringLiteral("verify"), m_key.publicPem, link), invalid);
        QCOMPARE(codesign(QStringLiteral("verify"), m_key.publicPem, m_dir.filePath(QStringLiteral("none"))),
                 invalid);
        QCOMPARE(run(codesignPath(), {QStringLiteral("verify"), bundle}), badUsage);
        QCOMPARE(
            run(codesignPath(), {QStringLiteral("check"), QStringLiteral("--key"), m_key.publicPem, bundle}),
            badUsage);
    }
};

QTEST_GUILESS_MAIN(TestCodesign)
#include "tst_codesign.moc"
