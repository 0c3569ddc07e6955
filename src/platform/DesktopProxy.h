#pragma once

#include <QString>
#include <QStringList>

// The desktop's own proxy settings pointed at the tunnel, for the mode without privilege.
//   GNOME: org.gnome.system.proxy through gsettings; every value is read back, because without a
//          session bus gsettings "succeeds" and writes nothing. Saved and restored exactly
//          (keys never set stay never set) with dconf dump / load of /system/proxy/.
//   KDE:   kioslaverc "Proxy Settings" through kwriteconfig5/6, then the reparse signal.
// The user's settings are saved before the first change; a second apply (after a crash) keeps
// that first backup. restore() puts them back and drops the backup; at start, a backup still
// there means the app ended while connected, and restore() recovers.
class DesktopProxy {
public:
    // `stateDir` holds the backups (0700); by default $XDG_STATE_HOME/vemko-vpn.
    explicit DesktopProxy(QString stateDir = defaultStateDir());
    static QString defaultStateDir();

    // Throws PlatformError (and leaves the settings as they were) when no desktop takes it.
    void apply(int socksPort, int httpPort);
    void restore();
    bool backupPresent() const;

    QString gnomeBackup() const;
    QString kdeBackup() const;

private:
    bool applyGnome(int socksPort, int httpPort);
    bool applyKde(int socksPort, int httpPort);
    void restoreGnome();
    void restoreKde();

    QString m_stateDir;
};
