#pragma once

#include <QString>

// Starting the app when the user logs in.
class LoginItem {
public:
    virtual ~LoginItem() = default;
    // Asked afresh each time: the user or another program may change it behind our back.
    virtual bool enabled() const = 0;
    // Throws PlatformError when the change could not be made.
    virtual void setEnabled(bool on) = 0;
};

// An XDG autostart entry, `configHome`/autostart/vemko-vpn.desktop, that starts `executable`
// hidden in the tray. Enabled exactly when that entry exists, runs `executable` and is not
// switched off (Hidden=true or X-GNOME-Autostart-enabled=false).
class XdgLoginItem final : public LoginItem {
public:
    XdgLoginItem(QString executable, QString configHome);
    // The running executable under $XDG_CONFIG_HOME (else ~/.config).
    static XdgLoginItem& forThisApp();

    bool enabled() const override;
    void setEnabled(bool on) override;
    QString path() const;
    QString entryText() const;

private:
    QString m_executable;
    QString m_configHome;
};
