#pragma once

// Runs a test program the way the app runs for a user: inside a private D-Bus session with its
// own unlocked gnome-keyring and a throw-away home, and, when the test starts as root (CI), as
// the unprivileged user "nobody" (setpriv). The user's own session and keyring are never touched.

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

// $1 is the throw-away home; the rest is the command. The keyring password goes through a pipe
// from a shell builtin, never onto a command line.
constexpr char script[] = R"sh(
home=$1; shift
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" \
       XDG_CACHE_HOME="$home/cache" XDG_RUNTIME_DIR="$home/run"
mkdir -p -m 0700 "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR" || exit 90
printf '%s\n' throwaway-keyring-password \
    | gnome-keyring-daemon --unlock --components=secrets > "$home/keyring.env" || exit 91
while IFS= read -r line; do
    case $line in *=*) export "$line" ;; esac
done < "$home/keyring.env"
for _ in $(seq 100); do
    daemon=$(dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.GetConnectionUnixProcessID string:org.freedesktop.secrets 2>/dev/null \
        | sed -n 's/.*uint32 \([0-9][0-9]*\).*/\1/p')
    [ -n "$daemon" ] && break || sleep 0.1
done
[ -n "$daemon" ] || { echo "gnome-keyring-daemon did not register on the private bus" >&2; exit 92; }
"$@"
status=$?
kill "$daemon" 2>/dev/null
exit $status
)sh";

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
    command << u"dbus-run-session"_qs << u"--"_qs << u"sh"_qs << u"-c"_qs << QString::fromLatin1(script)
            << u"sh"_qs << home.path();
    for (int i = 0; i < argc; ++i)
        command << QString::fromLocal8Bit(argv[i]);
    qputenv(insideMarker, "1");
    const int status = QProcess::execute(command.takeFirst(), command);
    return status >= 0 ? status : 1;
}

} // namespace private_session
