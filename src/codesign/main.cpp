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
#include <QStringList>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int invalid = 1;
constexpr int usage = 2;

int fail(int code, const QByteArray& reason) {
    std::fprintf(stderr, "vemko-codesign: %s\n", reason.constData());
    return code;
}

// The bundle's name stays the bytes it came as on the command line: converting it to text and back
// could name another folder.
std::string signaturePath(const std::string& bundle) {
    return bundle + '/' + signatureName;
}

// Beside the old signature, then renamed over it: a failed write leaves the old one.
int sign(const QString& key, const std::string& bundle) {
    const QByteArray manifest = bundleManifest(bundle);
    const QByteArray text = ed25519Sign(key, manifest).toBase64() + '\n';
    std::string temporary = signaturePath(bundle) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(invalid, QByteArray("cannot write the signature: ") + std::strerror(errno));
    const bool written = ::write(fd, text.constData(), size_t(text.size())) == ssize_t(text.size());
    const int writeError = errno;
    if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), signaturePath(bundle).c_str()) != 0) {
        const int error = written ? errno : writeError;
        ::unlink(temporary.c_str());
        return fail(invalid, QByteArray("cannot write the signature: ") + std::strerror(error));
    }
    return 0;
}

int verify(const QString& key, const std::string& bundle) {
    const int fd = ::open(signaturePath(bundle).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        return fail(invalid, "the bundle holds no signature");
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(invalid, "cannot read the signature");
    }
    const auto decoded =
        QByteArray::fromBase64Encoding(file.read(4096).trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return fail(invalid, "the signature is not base64");
    const QByteArray manifest = bundleManifest(bundle);
    if (!ed25519Verify(key, manifest, *decoded))
        return fail(invalid, "signature does not match");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (argc != 5 || args.size() != 4 || args[1] != QLatin1String("--key") ||
        (args[0] != QLatin1String("sign") && args[0] != QLatin1String("verify")))
        return fail(usage, "usage: vemko-codesign sign|verify --key KEY.pem BUNDLE");
    try {
        const std::string bundle = argv[4];
        return args[0] == QLatin1String("sign") ? sign(args[2], bundle) : verify(args[2], bundle);
    } catch (const BundleError& error) {
        return fail(invalid, error.what());
    } catch (const KeyError& error) {
        return fail(invalid, error.what());
    } catch (const std::exception& error) { // a folder that changed under the walk
        return fail(invalid, error.what());
    }
}
