#pragma once

// Runs a test program the way the app runs for a user: inside a private D-Bus session with its
// own unlocked gnome-keyring and a throw-away home, and, when the test starts as root (CI), as
// the unprivileged user "nobody" (setpriv). The user's own session and keyring are never touched.

#include "support/PrivateKeyring.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <sys/stat.h>
#include <unistd.h>

namespace private_session {

constexpr char insideMarker[] = "VEMKO_TEST_PRIVATE_SESSION";
constexpr uid_t nobodyUid = 65534;
constexpr gid_t nogroupGid = 65534;

inline bool inside() {
    return qEnvironmentVariableIsSet(insideMarker);
}

// Re-runs this program inside the session; its exit code is the test's result.
inline int rerunInside(int argc, char* argv[]) {
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    QStringList command;
    if (::geteuid() == 0) {
        // A root folder others cannot search (a chroot unpacked from a private temporary folder)
        // stops an ordinary user at its first library: opened for search, as on any system.
        struct stat root {};
        if (::stat("/", &root) == 0 && (root.st_mode & S_IXOTH) == 0)
            ::chmod("/", (root.st_mode & 07777) | S_IXGRP | S_IXOTH);
        // The home must belong to the user the test becomes.
        if (::chown(QFile::encodeName(home.path()).constData(), nobodyUid, nogroupGid) != 0)
            return 1;
        command << u"setpriv"_qs << u"--reuid=65534"_qs << u"--regid=65534"_qs << u"--clear-groups"_qs
                << u"--"_qs;
    }
    QStringList program;
    for (int i = 0; i < argc; ++i)
        program << QString::fromLocal8Bit(argv[i]);
    command << u"dbus-run-session"_qs << private_keyring::sessionArguments(home.path(), program);
    qputenv(insideMarker, "1");
    const int status = QProcess::execute(command.takeFirst(), command);
    return status >= 0 ? status : 1;
}

} // namespace private_session
