#pragma once

#include "os/Fd.h"

#include <string_view>

namespace os {

// `bytes` in an anonymous memory file (close-on-exec), read from its start: a document handed to a
// child as its standard input never touches a folder or a command line. None when it cannot be made.
Fd memoryFile(const char* name, std::string_view bytes);

} // namespace os
