#include "codesign/BundleKit.h"

#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace bundlekit;
using Tamper = std::function<void(const QString&)>;

namespace {
constexpr int valid = 0;
constexpr int invalid = 1;
constexpr int badUsage = 2;
} // namespace

class TestCodesign : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    KeyPair m_key;
    int m_serial = 0;

    QString signedBundle() {
        const QString path = m_dir.filePath(u"b%1/Vemko VPN.AppDir"_qs.arg(++m_serial));
        makeBundle(path, u"2.0"_qs);
        return codesign(u"sign"_qs, m_key.privatePem, path) == valid ? path : QString();
    }
    // A symlink at `where` inside the bundle pointing at `target`; signing refuses such a bundle too.
    static void row(const char* name, const QString& where, const QString& target) {
        QTest::newRow(name) << Tamper([=](const QString& b) {
            QDir().mkpath(b + '/' + where);
            QFile::link(u"../.."_qs, b + u"/usr/share/up"_qs);
            QFile::link(target, b + '/' + where + u"/escape"_qs);
        }) << QString() << true;
    }
    static void row(const char* name, const Tamper& tamper, const QString& key = {}) {
        QTest::newRow(name) << tamper << key << false;
    }

private slots:
    void initTestCase() {
        QVERIFY(QFile::exists(codesignPath()));
        m_key = makeKeyPair(m_dir.path(), u"release"_qs);
    }

    // Names are bytes: "\xff" is not UTF-8 and reads as U+FFFD, whose UTF-8 is another file's
    // name here. Each file is hashed under its own name, so changing "\xff" breaks the signature.
    void lookAlikeNamesAreDifferentFiles() {
        const QString bundle = m_dir.filePath(u"raw/Vemko VPN.AppDir"_qs);
        makeBundle(bundle, u"2.0"_qs);
        const auto put = [&](const QByteArray& name, const QByteArray& content) {
            const QByteArray path = QFile::encodeName(bundle) + '/' + name;
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const bool written =
                fd >= 0 && ::write(fd, content.constData(), size_t(content.size())) == content.size();
            return ::close(fd) == 0 && written;
        };
        QVERIFY(put("\xef\xbf\xbd", "harmless") && put("\xff", "signed"));
        QCOMPARE(codesign(u"sign"_qs, m_key.privatePem, bundle), valid);
        QCOMPARE(codesign(u"verify"_qs, m_key.publicPem, bundle), valid);
        QVERIFY(put("\xff", "evil"));
        QCOMPARE(codesign(u"verify"_qs, m_key.publicPem, bundle), invalid);
    }

    void tamperingFails_data() {
        QTest::addColumn<Tamper>("tamper");
        QTest::addColumn<QString>("key"); // the key to verify with, when not the right one
        QTest::addColumn<bool>("signRefused");
        row("file changed",
            [](auto& b) { writeFile(b + "/usr/bin/vemko-vpn", "#!/bin/sh\necho evil\n", true); });
        row("file added", [](auto& b) { writeFile(b + "/extra", "x"); });
        row("nested .signature added", [](auto& b) { writeFile(b + "/usr/.signature", "x"); });
        row("file removed", [](auto& b) { QFile::remove(b + "/VERSION"); });
        row("empty folder added", [](auto& b) { QDir().mkpath(b + "/usr/lib"); });
        row("mode changed", [](auto& b) { ::chmod(QFile::encodeName(b + "/VERSION").constData(), 04755); });
        row("link retargeted",
            [](auto& b) { QFile::remove(b + "/vemko-vpn") && QFile::link("AppRun", b + "/vemko-vpn"); });
        row("file replaced by link",
            [](auto& b) { QFile::remove(b + "/VERSION") && QFile::link("AppRun", b + "/VERSION"); });
        row("special file added",
            [](auto& b) { ::mkfifo(QFile::encodeName(b + "/pipe").constData(), 0644); });
        row("signature not base64", [](auto& b) { writeFile(b + "/.signature", "***\n"); });
        row("signature removed", [](auto& b) { QFile::remove(b + "/.signature"); });
        row(
            "another key", [](auto&) {}, makeKeyPair(m_dir.path(), u"other"_qs).publicPem);
        row(
            "private key for the public one", [](auto&) {}, m_key.privatePem);
        row(
            "no key file", [](auto&) {}, m_dir.filePath(u"missing.pem"_qs));
        row("link, absolute", "usr/lib", "/etc/passwd");
        row("link, up and out", "usr/lib", "../../../outside");
        row("link, up and back in by name", "", "../Vemko VPN.AppDir/VERSION");
        // "up" climbs to the top, so "up/../x" leaves although it reads as a sibling.
        row("link, through a link", "usr/share", "up/../x");
    }
    void tamperingFails() {
        QFETCH(Tamper, tamper);
        QFETCH(QString, key);
        QFETCH(bool, signRefused);
        const QString bundle = signedBundle();
        QCOMPARE(codesign(u"verify"_qs, m_key.publicPem, bundle), valid); // it is the change that fails
        tamper(bundle);
        QCOMPARE(codesign(u"verify"_qs, key.isEmpty() ? m_key.publicPem : key, bundle), invalid);
        if (signRefused)
            QCOMPARE(codesign(u"sign"_qs, m_key.privatePem, bundle), invalid);
    }

    void notABundleFails() {
        const QString bundle = signedBundle();
        const QString link = m_dir.filePath(u"linked.AppDir"_qs);
        QFile::link(bundle, link);
        QCOMPARE(codesign(u"verify"_qs, m_key.publicPem, link), invalid);
        QCOMPARE(codesign(u"verify"_qs, m_key.publicPem, m_dir.filePath(u"none"_qs)), invalid);
        QCOMPARE(run(codesignPath(), {u"verify"_qs, bundle}), badUsage);
        QCOMPARE(run(codesignPath(), {u"check"_qs, u"--key"_qs, m_key.publicPem, bundle}), badUsage);
    }
};

QTEST_GUILESS_MAIN(TestCodesign)
#include "tst_codesign.moc"
