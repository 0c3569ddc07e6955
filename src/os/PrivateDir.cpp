#include "os/PrivateDir.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace os {

namespace {

// Absolute, with no "." or ".." and no trailing slash.
std::string cleanAbsolute(const std::string& path) {
    std::error_code error;
    std::string clean = std::filesystem::absolute(path, error).lexically_normal().string();
    while (clean.size() > 1 && clean.back() == '/')
        clean.pop_back();
    return clean;
}

} // namespace

bool ensurePrivateDir(const std::string& path) {
    const std::string absolute = cleanAbsolute(path);
    if (absolute.empty() || absolute.front() != '/')
        return false;
    // Every folder made on the way is 0700 whatever the umask (XDG asks the same of ~/.config and
    // ~/.cache); folders that already exist above the last one are left as they are.
    for (std::size_t at = absolute.find('/', 1);; at = absolute.find('/', at + 1)) {
        const std::string part = at == std::string::npos ? absolute : absolute.substr(0, at);
        if (::mkdir(part.c_str(), 0700) == 0)
            ::chmod(part.c_str(), 0700);
        else if (errno != EEXIST)
            return false;
        if (at == std::string::npos)
            break;
    }
    struct stat info {};
    if (::lstat(absolute.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
        return false;
    return (info.st_mode & 07777) == 0700 || ::chmod(absolute.c_str(), 0700) == 0;
}

std::string homeDir() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    const passwd* entry = ::getpwuid(::getuid());
    return entry && entry->pw_dir ? entry->pw_dir : "/";
}

} // namespace os
