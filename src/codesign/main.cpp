// vemko-codesign: signs an update bundle for release and lets the app unpack and verify it before
// installing.
//   vemko-codesign sign --key PRIVATE.pem BUNDLE
//   vemko-codesign verify --key PUBLIC.pem BUNDLE
//   vemko-codesign unpack --max-bytes N --max-entries N ARCHIVE.zip FOLDER
// Exit status 0 only for a signature written or verified, or an archive unpacked; 1 for a bundle,
// signature or archive that fails; 2 for a wrong command line; 3 for an archive beyond the limits.
// Unpacking prints "DONE TOTAL" after each entry, and never writes a file larger than the limit.

#include "Ed25519.h"
#include "Manifest.h"
#include "Unpack.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int invalid = 1;
constexpr int usage = 2;
constexpr int beyondLimits = 3;

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

int unpack(const QStringList& args, char** argv) {
    bool bytesOk = false;
    bool entriesOk = false;
    const UnpackLimits limits{args[2].toULongLong(&bytesOk), args[4].toULongLong(&entriesOk)};
    if (args[1] != QLatin1String("--max-bytes") || args[3] != QLatin1String("--max-entries") || !bytesOk ||
        !entriesOk)
        return fail(usage, "usage: vemko-codesign unpack --max-bytes N --max-entries N ARCHIVE FOLDER");
    // The kernel holds every file to the limit too; a write beyond it fails instead of ending us.
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit fileSize{rlim_t(limits.bytes), rlim_t(limits.bytes)};
    ::setrlimit(RLIMIT_FSIZE, &fileSize);
    std::string reason;
    const auto progress = [](std::uint64_t done, std::uint64_t total) {
        std::printf("%llu %llu\n", static_cast<unsigned long long>(done),
                    static_cast<unsigned long long>(total));
        std::fflush(stdout);
    };
    switch (unpackZip(argv[6], argv[7], limits, progress, reason)) {
    case UnpackResult::Done:
        return 0;
    case UnpackResult::TooLarge:
        return fail(beyondLimits, "the archive is beyond the limits: " + QByteArray::fromStdString(reason));
    case UnpackResult::Damaged:
        break;
    }
    return fail(invalid, "the archive is damaged: " + QByteArray::fromStdString(reason));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (argc == 8 && args.size() == 7 && args[0] == QLatin1String("unpack"))
        return unpack(args, argv);
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
