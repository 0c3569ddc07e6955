#pragma once

#include <QWidget>

class RootView;
struct ScreenContext;

// The one main window: "Vemko VPN", fixed 460 × 720, the window manager's own title bar. The user
// closing it hides it into the tray when there is one; without a tray, closing quits.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    MainWindow(const ScreenContext& context, QWidget* parent = nullptr);
    RootView* root() const { return m_root; }
    // Shows, un-minimises, raises and focuses the window.
    void bringForward();

signals:
    // The window's content came on screen: at the first showing, and after each time it was hidden.
    void opened(bool first);
    // Closing with no tray to keep the app in.
    void closedForGood();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    RootView* m_root;
    bool m_everShown = false;
    bool m_hidden = true;
};
