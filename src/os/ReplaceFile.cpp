#include "os/ReplaceFile.h"

#include "os/PathParts.h"
#include "os/WriteAll.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace os {

int replaceFile(const std::string& path, std::string_view bytes, Durability durability) noexcept {
    return replaceFileWith(
        path, [bytes](int fd) { return writeAll(fd, bytes); }, durability);
}

int replaceFileWith(const std::string& path, const std::function<int(int fd)>& fill, Durability durability) {
    std::string temporary = path + ".XXXXXX";
    // mkostemp creates the file 0600 and owned by us, whatever the umask or the old file's mode.
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;
    int error = fill(fd);
    // Some file systems cannot sync (EINVAL): the rename is still atomic there.
    if (error == 0 && durability == Durability::Synced && ::fsync(fd) != 0 && errno != EINVAL)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return error;
    }
    if (durability == Durability::Synced) {
        // The rename itself reaches the disk with the folder; the new file is in place either way.
        if (const int dir = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
    return 0;
}

void removeLeftoverTemporaries(const std::string& path) {
    const std::string folder = folderOf(path);
    const std::string prefix = fileNameOf(path) + '.';
    DIR* directory = ::opendir(folder.c_str());
    if (!directory)
        return;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string_view name = entry->d_name;
        if (name.size() != prefix.size() + 6 || !name.starts_with(prefix) ||
            !std::all_of(name.begin() + static_cast<long>(prefix.size()), name.end(),
                         [](unsigned char c) { return std::isalnum(c); }))
            continue;
        const std::string leftover = folder + '/' + std::string(name);
        struct stat info {};
        if (::lstat(leftover.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::getuid())
            ::unlink(leftover.c_str());
    }
    ::closedir(directory);
}

} // namespace os
