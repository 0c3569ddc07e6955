#include "platform/SpawnInSession.h"

#include "os/Spawn.h"
#include "platform/PlatformError.h"

#include <QFile>
#include <QList>
#include <cstring>
#include <sys/wait.h>

namespace {

// Main thread only, like every caller.
QList<pid_t>& spawned() {
    static QList<pid_t> children;
    return children;
}

} // namespace

qint64 spawnInSession(const QString& program, const QStringList& arguments, int inputFd) {
    reapSpawned();
    std::vector<std::string> words;
    for (const QString& argument : arguments)
        words.push_back(QFile::encodeName(argument).toStdString());
    os::SpawnIo io;
    io.input = inputFd;
    io.ownSession = true;
    const os::Spawned child = os::spawn(QFile::encodeName(program).toStdString(), words, io);
    if (child.error != 0)
        throw PlatformError(QString::fromLocal8Bit(std::strerror(child.error)));
    spawned() << child.pid;
    return child.pid;
}

bool reapSpawned() {
    spawned().removeIf([](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; });
    return !spawned().isEmpty();
}

bool spawnedRuns(qint64 pid) {
    reapSpawned();
    return spawned().contains(pid_t(pid));
}
