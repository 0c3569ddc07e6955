#include "GuiDesktop.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QTimer>

bool GuiDesktop::openUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

void GuiDesktop::copyText(const QString& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}

void GuiDesktop::terminate() {
    // exit(), not quit(): quit() first asks every window to close, and one that stays (the window
    // kept in the tray) would cancel it. Queued so the caller's current event completes first.
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
}
