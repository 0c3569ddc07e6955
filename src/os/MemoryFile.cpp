#include "os/MemoryFile.h"

#include "os/WriteAll.h"

#include <sys/mman.h>

namespace os {

Fd memoryFile(const char* name, std::string_view bytes) {
    Fd fd(::memfd_create(name, MFD_CLOEXEC));
    if (fd && (writeAll(fd.get(), bytes) != 0 || ::lseek(fd.get(), 0, SEEK_SET) != 0))
        fd.reset();
    return fd;
}

} // namespace os
