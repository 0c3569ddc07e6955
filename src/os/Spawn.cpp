#include "os/Spawn.h"

#include "os/ExecWords.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

extern char** environ;

namespace os {

namespace {

// posix_spawn's attribute and action objects, released on every path.
struct SpawnSetup {
    posix_spawnattr_t attributes{};
    posix_spawn_file_actions_t actions{};
    SpawnSetup() {
        posix_spawnattr_init(&attributes);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

void attach(posix_spawn_file_actions_t& actions, int from, int to, int flags) {
    if (from >= 0)
        posix_spawn_file_actions_adddup2(&actions, from, to);
    else
        posix_spawn_file_actions_addopen(&actions, to, "/dev/null", flags, 0);
}

} // namespace

Spawned spawn(const std::string& program, const std::vector<std::string>& arguments, const SpawnIo& io) {
    SpawnSetup setup;
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (io.ownSession)
        flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&setup.attributes, flags);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &all);
    attach(setup.actions, io.input, STDIN_FILENO, O_RDONLY);
    attach(setup.actions, io.output, STDOUT_FILENO, O_WRONLY);
    posix_spawn_file_actions_addopen(&setup.actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);

    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    const std::vector<char*> argv = execPointers(words);
    pid_t pid = 0;
    const auto start = io.searchPath ? posix_spawnp : posix_spawn;
    const int error = start(&pid, program.c_str(), &setup.actions, &setup.attributes, argv.data(), environ);
    if (error != 0)
        return {0, error};
    return {pid, 0};
}

// Through syscall(): glibc 2.36 declares pidfd_open without C linkage for C++.
int openPidfd(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

std::string findExecutable(const std::string& name) {
    const auto executable = [](const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
    };
    if (name.find('/') != std::string::npos)
        return executable(name) ? name : std::string();
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':'))
        if (!folder.empty() && executable(folder + '/' + name))
            return folder + '/' + name;
    return {};
}

} // namespace os
