#pragma once

#include "screens/Screens.h"

#include <QCoroTask>
#include <QObject>
#include <QStringList>
#include <memory>

class LinkSignIn;
class MainWindow;
class MenuBarView;
class Tray;

// The running app as the user meets it: the main window and the tray with its menu, over the
// shared controllers. Runs the start-up sequence whenever the window's content is shown,
// refreshes whenever the app becomes active, follows a pending payment while the window is shown,
// and takes the arguments of later launches.
class VemkoVPNApp : public QObject {
    Q_OBJECT
public:
    VemkoVPNApp(const ScreenContext& context, QString apiOrigin, QObject* parent = nullptr);
    ~VemkoVPNApp() override;

    MainWindow* window() const { return m_window.get(); }
    MenuBarView* menu() const { return m_menu.get(); }
    Tray* tray() const { return m_tray.get(); }

    // Brings the main window forward (showing it when hidden).
    void openWindow();
    // Raises the window and signs in with every sign-in link among `arguments` (a launch's
    // arguments: the program first, then options, "--", and links), asking first when that would
    // replace the signed-in account. With the option "--hidden"
    // (start at login) the window stays closed when there is a tray to keep the app in.
    void handleArguments(const QStringList& arguments);

private:
    void opened(bool first);
    void watchPayment();
    void becameActive();
    QCoro::Task<> refreshOnActivation();

    ScreenContext m_context;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<MenuBarView> m_menu;
    std::unique_ptr<Tray> m_tray;
    std::unique_ptr<LinkSignIn> m_links;
    bool m_updateLoopStarted = false;
};
