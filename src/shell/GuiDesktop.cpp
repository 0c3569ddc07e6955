#include "GuiDesktop.h"

#include "LinkDialog.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QTimer>

GuiDesktop::GuiDesktop() = default;

GuiDesktop::~GuiDesktop() = default;

bool GuiDesktop::openUrl(const QUrl& url) {
    if (QDesktopServices::openUrl(url))
        return true;
    if (!m_linkDialog)
        m_linkDialog = std::make_unique<LinkDialog>(); // a window of its own: links come from the tray too
    m_linkDialog->showLink(url);
    return false;
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
