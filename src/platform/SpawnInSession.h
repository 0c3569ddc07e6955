#pragma once

#include <QString>
#include <QStringList>

// Starts `program` in a session of its own so it outlives us and no terminal signal of ours
// reaches it: standard input from `inputFd` (/dev/null when negative), output to /dev/null, no
// other descriptor of ours, default signal handling. posix_spawn, not fork: forking a large GUI
// process copies its page tables and cost the connect path ~10 ms. The child is ours until it
// ends; reapSpawned() collects the ones that have. Returns the pid; throws PlatformError.
qint64 spawnInSession(const QString& program, const QStringList& arguments, int inputFd);

// Collects spawned children that have ended, so none lingers as a zombie; true while some of
// them still run.
bool reapSpawned();

// The spawned child `pid` has not ended. Exact, unlike a look at /proc: until we collect it, its
// pid cannot be reused, and a process caught in the middle of its exec reads as nothing there.
bool spawnedRuns(qint64 pid);
