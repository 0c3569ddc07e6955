#include "platform/Desktop.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QProcess>

bool LinuxDesktop::openUrl(const QUrl& url) {
    // Only absolute URLs: a bare word could reach xdg-open as an option or a local path.
    if (!url.isValid() || url.scheme().isEmpty())
        return false;
    return QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString(QUrl::FullyEncoded)});
}

void LinuxDesktop::copyText(const QString&) {}

void LinuxDesktop::terminate() {
    auto* app = QCoreApplication::instance();
    if (!app)
        return;
    // Queued so the caller's current event (a menu action, the updater's last step) completes first.
    // exit(), not quit(): in a GUI, quit() asks every window to close first and a window that stays
    // (kept in the tray) cancels it; the updater's quit must end the process.
    QMetaObject::invokeMethod(
        app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}
