#pragma once

#include "TabBar.h"
#include "screens/Screens.h"

#include <QPixmap>
#include <QWidget>

class Phase;
class QStackedWidget;
class Toast;

// The main window's content: the sign-in screen while signed out; otherwise the selected tab's
// screen over the tab bar. The toast floats over both.
class RootView : public QWidget {
    Q_OBJECT
public:
    RootView(const ScreenContext& context, QWidget* parent = nullptr);

    Tab tab() const { return m_tab; }
    // Selects `tab` (fading the screen change); choosing the current tab changes nothing.
    void setTab(Tab tab);
    QWidget* screen(Tab tab) const;
    QWidget* signInScreen() const { return m_signIn; }
    TabBar* tabBar() const { return m_bar; }
    Toast* toast() const { return m_toast; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void followSignIn();

    ScreenContext m_context;
    Tab m_tab = Tab::Home;
    QStackedWidget* m_root; // sign-in, or the tabbed part
    QWidget* m_signIn;
    QWidget* m_tabbed;
    QStackedWidget* m_screens;
    TabBar* m_bar;
    Toast* m_toast;
    class Fade;
    Fade* m_fade;
};
