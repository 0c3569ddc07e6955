#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace os {

// How a child starts: standard input and output from the given descriptors (/dev/null where
// negative), standard error to /dev/null, no other descriptor of ours, an empty signal mask and
// default signal handling (whatever this process blocks or ignores), optionally a session of its
// own. posix_spawn, never a shell.
struct SpawnIo {
    int input = -1;
    int output = -1;
    bool ownSession = false;
    bool searchPath = false; // a name without '/' is looked up on PATH
};

struct Spawned {
    pid_t pid = 0;
    int error = 0; // the errno when no child started
};
Spawned spawn(const std::string& program, const std::vector<std::string>& arguments, const SpawnIo& io);

// A pidfd of `pid` (close-on-exec): it reads ready once the process has exited. -1 with errno.
int openPidfd(pid_t pid);

// `name` on PATH (a name with '/' as it is), when it is an executable file; empty otherwise.
std::string findExecutable(const std::string& name);

} // namespace os
