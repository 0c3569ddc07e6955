#pragma once

#include <QByteArray>
#include <filesystem>
#include <stdexcept>
#include <string>

// A bundle the tool refuses to sign or accept: a link that leaves it, a device node, unreadable
// content. Carries the reason for standard error.
struct BundleError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The name of the signature file at the bundle's top; the manifest covers everything else.
inline constexpr const char* signatureName = ".signature";

// The canonical manifest of a bundle: one line per directory, file and symlink (the bundle itself
// as "."), sorted by relative path bytes. A line is "<type> <mode> <content> <path>": the type is
// dir, file or link; the mode four octal digits; the content the SHA-256 of a file, the
// percent-encoded target of a link, "-" for a directory; the path percent-encoded, so names
// holding spaces or line breaks cannot forge lines. Throws BundleError for a bundle that is not a
// real directory, a link pointing outside it, or a special file.
QByteArray bundleManifest(const std::filesystem::path& bundle);
