#pragma once

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <functional>

class AppModel;
class Desktop;
class QMenu;
class Vpn;

// The tray menu: the tunnel's state in one line, connect or disconnect, the server list, the
// window, the account page and quitting. Rebuilt whenever what it shows changes.
class MenuBarView : public QObject {
    Q_OBJECT
public:
    // `openWindow` brings the main window forward; `quit` ends the app.
    MenuBarView(AppModel& model, Vpn& vpn, Desktop& desktop, QString apiOrigin,
                std::function<void()> openWindow, std::function<void()> quit, QObject* parent = nullptr);
    ~MenuBarView() override;

    QMenu* menu() const { return m_menu; }
    void rebuild();

private:
    bool subscribed() const;

    AppModel& m_model;
    Vpn& m_vpn;
    Desktop& m_desktop;
    QString m_apiOrigin;
    std::function<void()> m_openWindow;
    std::function<void()> m_quit;
    QMenu* m_menu;
    QPointer<QMenu> m_servers;
};
