#pragma once

// A real Secret Service for a test: gnome-keyring in a private D-Bus session with a throw-away
// home, so the user's own keyring is never touched.

#include <QString>
#include <QStringList>

namespace private_keyring {

// `sh -c` script: $1 is the throw-away home; the rest is the command to run inside. The keyring
// password goes through a pipe from a shell builtin, never onto a command line.
inline constexpr char sessionScript[] = R"sh(
home=$1; shift
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" \
       XDG_CACHE_HOME="$home/cache" XDG_RUNTIME_DIR="$home/run"
mkdir -p -m 0700 "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR" || exit 90
# No system bus: a keyring daemon that has stored a secret while one runs exits when that bus
# goes away (the polkit test starts and stops one beside the other tests), taking the token along.
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$home/no-system-bus"
printf '%s\n' throwaway-keyring-password \
    | gnome-keyring-daemon --unlock --components=secrets > "$home/keyring.env" || exit 91
while IFS= read -r line; do
    case $line in *=*) export "$line" ;; esac
done < "$home/keyring.env"
# The daemon claims its bus name a moment after its launcher returns: wait up to 10 s for it.
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

// dbus-run-session's arguments that run `command` inside a fresh private keyring at `home`.
inline QStringList sessionArguments(const QString& home, const QStringList& command) {
    return QStringList{QStringLiteral("--"), QStringLiteral("sh"),
                       QStringLiteral("-c"), QString::fromLatin1(sessionScript),
                       QStringLiteral("sh"), home} +
           command;
}

} // namespace private_keyring
