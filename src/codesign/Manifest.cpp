#include "Manifest.h"

#include <QCryptographicHash>
#include <QFile>
#include <algorithm>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

QByteArray bytes(const fs::path& path) {
    const std::string& native = path.native();
    return QByteArray(native.data(), qsizetype(native.size()));
}

QByteArray encoded(const fs::path& path) {
    return bytes(path).toPercentEncoding("/");
}

QByteArray octalMode(fs::perms perms) {
    return QByteArray::number(unsigned(perms & fs::perms::mask), 8).rightJustified(4, '0');
}

// Opened by its raw name: a name that is not valid UTF-8 must not turn into another file's name.
QByteArray fileDigest(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        throw BundleError("cannot read " + path.native());
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        throw BundleError("cannot read " + path.native());
    return hash.result().toHex();
}

// True when `target`, read from the folder `linkDir` (relative to the bundle), names a place
// inside the bundle without leaving it on the way.
bool staysInside(const fs::path& linkDir, const fs::path& target) {
    if (target.empty() || target.is_absolute())
        return false;
    std::vector<fs::path> stack;
    for (const auto& part : linkDir)
        if (part != "." && !part.empty())
            stack.push_back(part);
    for (const auto& part : target) {
        if (part == "." || part.empty())
            continue;
        if (part == "..") {
            if (stack.empty())
                return false;
            stack.pop_back();
        } else {
            stack.push_back(part);
        }
    }
    return true;
}

// Links inside the bundle can chain (a "d -> .." in a subfolder makes "d/.." climb higher than it
// reads), so the real resolution must stay inside as well. The link's own folder is a real folder
// of the bundle: the walk never enters linked folders.
bool resolvesInside(const fs::path& root, const fs::path& linkFolder, const fs::path& target) {
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(linkFolder / target, error);
    if (error)
        return false;
    const auto [rootEnd, resolvedPos] =
        std::mismatch(root.begin(), root.end(), resolved.begin(), resolved.end());
    return rootEnd == root.end();
}

struct Line {
    QByteArray path; // raw relative path bytes: the sort key
    QByteArray text;
};

void walk(const fs::path& root, const fs::path& relative, std::vector<Line>& lines) {
    const fs::path folder = relative.empty() ? root : root / relative;
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    if (error)
        throw BundleError("cannot list " + folder.native());
    for (const auto& entry : entries) {
        const fs::path name = entry.path().filename();
        const fs::path rel = relative.empty() ? name : relative / name;
        if (relative.empty() && name == signatureName)
            continue;
        const fs::file_status status = fs::symlink_status(entry.path(), error);
        if (error)
            throw BundleError("cannot read " + entry.path().native());
        const QByteArray mode = octalMode(status.permissions());
        switch (status.type()) {
        case fs::file_type::directory:
            lines.push_back({bytes(rel), "dir " + mode + " - " + encoded(rel)});
            walk(root, rel, lines);
            break;
        case fs::file_type::regular:
            lines.push_back(
                {bytes(rel), "file " + mode + ' ' + fileDigest(entry.path()) + ' ' + encoded(rel)});
            break;
        case fs::file_type::symlink: {
            const fs::path target = fs::read_symlink(entry.path(), error);
            if (error)
                throw BundleError("cannot read link " + entry.path().native());
            if (!staysInside(rel.parent_path(), target) || !resolvesInside(root, folder, target))
                throw BundleError("link points outside the bundle: " + rel.native());
            // A link's own mode means nothing on Linux and cp does not keep it.
            lines.push_back({bytes(rel), "link 0777 " + encoded(target) + ' ' + encoded(rel)});
            break;
        }
        default:
            throw BundleError("special file in the bundle: " + rel.native());
        }
    }
}

} // namespace

QByteArray bundleManifest(const fs::path& bundle) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(bundle, error);
    if (error || status.type() != fs::file_type::directory)
        throw BundleError("not a folder: " + bundle.native());
    const fs::path root = fs::canonical(bundle, error);
    if (error)
        throw BundleError("cannot resolve " + bundle.native());

    std::vector<Line> lines{{QByteArray(), "dir " + octalMode(status.permissions()) + " - ."}};
    walk(root, {}, lines);
    std::sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) { return a.path < b.path; });

    QByteArray manifest = "vemko-codesign manifest 1\n";
    for (const Line& line : lines)
        manifest += line.text + '\n';
    return manifest;
}
