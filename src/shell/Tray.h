#pragma once

#include <QObject>
#include <functional>

class MenuBarView;
class QSystemTrayIcon;
class Vpn;

// The status icon in the desktop's tray with the menu. Shown only where a tray host exists; when
// one appears later, the next check shows it. A click raises the window; every action is also in
// the menu, since some trays open the menu on any click.
class Tray : public QObject {
    Q_OBJECT
public:
    Tray(MenuBarView& menu, Vpn& vpn, std::function<void()> openWindow, QObject* parent = nullptr);

    // Shows the icon when a tray host is there now. True when the icon is shown.
    bool check();
    QSystemTrayIcon* icon() const { return m_icon; }
    // The symbol for the tunnel's status: "shield", "shield.lefthalf.filled" or "shield.fill".
    QString symbolName() const;

private:
    void refresh();

    Vpn& m_vpn;
    QSystemTrayIcon* m_icon;
};
