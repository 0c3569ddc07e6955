// vemko-codesign: signs an update bundle for release and lets the app verify it before installing.
//   vemko-codesign sign --key PRIVATE.pem BUNDLE
//   vemko-codesign verify --key PUBLIC.pem BUNDLE
// Exit status 0 only for a signature written or verified; 1 for a bundle or signature that fails;
// 2 for a wrong command line.

#include "Ed25519.h"
#include "Manifest.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QStringList>
#include <cstdio>
#include <filesystem>

namespace {

constexpr int invalid = 1;
constexpr int usage = 2;

int fail(int code, const QByteArray& reason) {
    std::fprintf(stderr, "vemko-codesign: %s\n", reason.constData());
    return code;
}

QString signaturePath(const QString& bundle) {
    return bundle + '/' + QLatin1String(signatureName);
}

int sign(const QString& key, const QString& bundle) {
    const QByteArray manifest = bundleManifest(QFile::encodeName(bundle).toStdString());
    const QByteArray signature = ed25519Sign(key, manifest);
    QSaveFile file(signaturePath(bundle));
    if (!file.open(QIODevice::WriteOnly) || file.write(signature.toBase64() + '\n') < 0 || !file.commit())
        return fail(invalid, "cannot write the signature: " + file.errorString().toUtf8());
    return 0;
}

int verify(const QString& key, const QString& bundle) {
    const std::filesystem::path signatureFile = QFile::encodeName(signaturePath(bundle)).toStdString();
    std::error_code error;
    if (std::filesystem::symlink_status(signatureFile, error).type() != std::filesystem::file_type::regular)
        return fail(invalid, "the bundle holds no signature");
    QFile file(signaturePath(bundle));
    if (!file.open(QIODevice::ReadOnly))
        return fail(invalid, "cannot read the signature");
    const auto decoded =
        QByteArray::fromBase64Encoding(file.read(4096).trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return fail(invalid, "the signature is not base64");
    const QByteArray manifest = bundleManifest(QFile::encodeName(bundle).toStdString());
    if (!ed25519Verify(key, manifest, *decoded))
        return fail(invalid, "signature does not match");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 4 || args[1] != QLatin1String("--key") ||
        (args[0] != QLatin1String("sign") && args[0] != QLatin1String("verify")))
        return fail(usage, "usage: vemko-codesign sign|verify --key KEY.pem BUNDLE");
    try {
        return args[0] == QLatin1String("sign") ? sign(args[2], args[3]) : verify(args[2], args[3]);
    } catch (const BundleError& error) {
        return fail(invalid, error.what());
    } catch (const KeyError& error) {
        return fail(invalid, error.what());
    } catch (const std::exception& error) { // a folder that changed under the walk
        return fail(invalid, error.what());
    }
}
