#include "platform/SpawnInSession.h"

#include "platform/PlatformError.h"

#include <QFile>
#include <QList>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

// Main thread only, like every caller.
QList<pid_t>& spawned() {
    static QList<pid_t> children;
    return children;
}

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

} // namespace

qint64 spawnInSession(const QString& program, const QStringList& arguments, int inputFd) {
    reapSpawned();
    SpawnSetup setup;
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setflags(&setup.attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &all);
    if (inputFd >= 0)
        posix_spawn_file_actions_adddup2(&setup.actions, inputFd, STDIN_FILENO);
    else
        posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);

    const QByteArray path = QFile::encodeName(program);
    QList<QByteArray> words{path};
    for (const QString& argument : arguments)
        words << QFile::encodeName(argument);
    QList<char*> argv;
    for (QByteArray& word : words)
        argv << word.data();
    argv << nullptr;

    pid_t pid = 0;
    const int error =
        posix_spawn(&pid, path.constData(), &setup.actions, &setup.attributes, argv.data(), environ);
    if (error != 0)
        throw PlatformError(QString::fromLocal8Bit(std::strerror(error)));
    spawned() << pid;
    return pid;
}

bool reapSpawned() {
    spawned().removeIf([](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; });
    return !spawned().isEmpty();
}

bool spawnedRuns(qint64 pid) {
    reapSpawned();
    return spawned().contains(pid_t(pid));
}
