#pragma once

#include "TabBar.h"
#include "screens/Screens.h"

#include <QPixmap>
#include <QWidget>
#include <array>

class Phase;
class QStackedWidget;
class Toast;

// The main window's content: the sign-in screen while signed out; otherwise the selected tab's
// screen over the tab bar. The toast floats over both. A screen is built the first time it is
// wanted, so the window comes up with only the one it shows.
class RootView : public QWidget {
    Q_OBJECT
public:
    RootView(const ScreenContext& context, QWidget* parent = nullptr);

    Tab tab() const { return m_tab; }
    // Selects `tab` (fading the screen change); choosing the current tab changes nothing.
    void setTab(Tab tab);
    QWidget* screen(Tab tab);
    QWidget* signInScreen();
    TabBar* tabBar() const { return m_bar; }
    Toast* toast() const { return m_toast; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void followSignIn();
    void keepTabsAfter(QWidget* screen);

    ScreenContext m_context;
    Tab m_tab = Tab::Home;
    QStackedWidget* m_root; // sign-in, or the tabbed part
    QWidget* m_signIn = nullptr;
    QWidget* m_tabbed;
    QStackedWidget* m_screens;
    std::array<QWidget*, 4> m_made{}; // by Tab
    TabBar* m_bar = nullptr;
    Toast* m_toast;
    class Fade;
    Fade* m_fade;
};
