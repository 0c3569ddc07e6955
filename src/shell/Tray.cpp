#include "Tray.h"

#include "MenuBarView.h"
#include "screens/Brand.h"
#include "tunnel/Vpn.h"

#include <QMenu>
#include <QSystemTrayIcon>

Tray::Tray(MenuBarView& menu, Vpn& vpn, std::function<void()> openWindow, QObject* parent)
    : QObject(parent), m_vpn(vpn), m_icon(new QSystemTrayIcon(this)) {
    m_icon->setObjectName(QStringLiteral("trayIcon"));
    m_icon->setToolTip(QStringLiteral("Vemko VPN"));
    m_icon->setContextMenu(menu.menu());
    connect(m_icon, &QSystemTrayIcon::activated, this,
            [openWindow](QSystemTrayIcon::ActivationReason reason) {
                // A double click also brings a single click first: that one is enough.
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::MiddleClick)
                    openWindow();
            });
    connect(&m_vpn, &Vpn::statusChanged, this, &Tray::refresh);
    refresh();
    check();
}

QString Tray::symbolName() const {
    switch (m_vpn.status()) {
    case VpnStatus::On:
        return QStringLiteral("shield.fill");
    case VpnStatus::Connecting:
        return QStringLiteral("shield.lefthalf.filled");
    case VpnStatus::Off:
        break;
    }
    return QStringLiteral("shield");
}

void Tray::refresh() {
    const QColor ink = m_vpn.status() == VpnStatus::Off ? QColor(142, 142, 147) : Brand::brand();
    m_icon->setIcon(Brand::symbolIcon(symbolName(), ink));
    m_icon->setToolTip(QStringLiteral("Vemko VPN"));
}

bool Tray::check() {
    if (!m_icon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable())
        m_icon->show();
    return m_icon->isVisible();
}
