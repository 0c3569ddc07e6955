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
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
}
