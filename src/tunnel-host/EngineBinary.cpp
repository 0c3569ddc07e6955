#include "EngineBinary.h"

#include "os/Fd.h"
#include "os/PathParts.h"
#include "os/PrivateDir.h"
#include "os/ReplaceFile.h"
#include "os/Spawn.h"
#include "os/WriteAll.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace EngineBinary {

namespace {

bool carriesPrivileges(const std::string& path, const struct stat& info) {
    if (info.st_mode & (S_ISUID | S_ISGID))
        return true;
    return ::getxattr(path.c_str(), "security.capability", nullptr, 0) >= 0;
}

bool sameFile(const struct stat& copy, const struct stat& source) {
    return S_ISREG(copy.st_mode) && copy.st_uid == ::getuid() && (copy.st_mode & 07777) == 0700 &&
           copy.st_size == source.st_size && copy.st_mtim.tv_sec == source.st_mtim.tv_sec &&
           copy.st_mtim.tv_nsec == source.st_mtim.tv_nsec;
}

// Every byte of `from` into `to`; 0 or an errno (a short write counts as "no space").
int copyBytes(int from, int to) {
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        if (got == 0)
            return 0;
        if (const int error = os::writeAll(to, std::string_view(buffer, static_cast<std::size_t>(got))))
            return error;
    }
}

// A fresh copy, written beside the old one and renamed over it: a host still running the old
// copy keeps it, and nobody ever starts half a file. Empty, or why not.
std::string makeCopy(const std::string& source, const struct stat& info, const std::string& target) {
    const os::Fd from(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!from)
        return std::strerror(errno);
    // A copy an interrupted host left half-written goes first.
    os::removeLeftoverTemporaries(target);
    const int error = os::replaceFileWith(
        target,
        [&](int to) {
            const timespec times[2] = {info.st_atim, info.st_mtim};
            int failed = copyBytes(from.get(), to);
            if (failed == 0 && (::fchmod(to, 0700) != 0 || ::futimens(to, times) != 0))
                failed = errno;
            return failed;
        },
        os::Durability::Atomic);
    return error == 0 ? std::string() : std::strerror(error);
}

} // namespace

Prepared prepare(const std::string& installed, const std::string& cacheDir) {
    const std::string found = os::findExecutable(installed);
    if (found.empty())
        return {installed, {}, {}};
    struct stat info {};
    if (::stat(found.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || !carriesPrivileges(found, info))
        return {found, {}, {}};

    if (!os::ensurePrivateDir(cacheDir))
        return {found, cacheDir + ": not a private folder of this user", {}};
    std::error_code ignored;
    const std::string absolute =
        found.front() == '/' ? found : std::filesystem::absolute(found, ignored).string();
    const std::string target = cacheDir + '/' + os::fileNameOf(absolute);
    const std::string assetDir = os::folderOf(absolute);
    struct stat copy {};
    if (::lstat(target.c_str(), &copy) == 0 && sameFile(copy, info))
        return {target, {}, assetDir};
    if (const std::string error = makeCopy(found, info, target); !error.empty())
        return {found, "cannot copy the engine to " + cacheDir + ": " + error, {}};
    return {target, {}, assetDir};
}

} // namespace EngineBinary
