#pragma once

#include <string>

namespace os {

// The folder a path names its file in: "/" for a file at the root, "." for a bare name.
inline std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The last part of a path: its file's own name.
inline std::string fileNameOf(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

} // namespace os
