#include "MainWindow.h"

#include "RootView.h"

#include <QCloseEvent>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>

MainWindow::MainWindow(const ScreenContext& context, QWidget* parent)
    : QWidget(parent, Qt::Window), m_root(new RootView(context, this)) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Vemko VPN"));
    setFixedSize(460, 720);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_root);
}

void MainWindow::bringForward() {
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous() || !m_hidden)
        return;
    m_hidden = false;
    const bool first = !m_everShown;
    m_everShown = true;
    emit opened(first);
}

void MainWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // Minimising is spontaneous; only a real hide makes the next showing a reopening.
    if (!event->spontaneous())
        m_hidden = true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Only the user closing the window (through the window manager: a spontaneous event) keeps the
    // app in the tray. A close the app or the session asks for (quitting, logging out) must go
    // through, or it would cancel the quit.
    if (event->spontaneous() && QSystemTrayIcon::isSystemTrayAvailable()) {
        event->ignore();
        QTimer::singleShot(0, this, &QWidget::hide);
        return;
    }
    event->accept();
    emit closedForGood();
}
