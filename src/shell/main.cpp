// vemko-vpn: the desktop app. Makes the application, one AppCore, and hands its controllers to
// the window and the tray; a second launch hands its arguments to the first and ends.
#include "DesktopEntry.h"
#include "GuiDesktop.h"
#include "SingleInstance.h"
#include "VemkoVPNApp.h"
#include "model/AppCore.h"
#include "platform/Clock.h"
#include "platform/InstallLayout.h"
#include "platform/Interrupts.h"
#include "platform/LoginItem.h"
#include "platform/TunnelPaths.h"
#include "screens/Brand.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fprintf(stderr,
                     "vemko-vpn: no display to show the window on (DISPLAY and WAYLAND_DISPLAY are unset)\n");
        return 1;
    }
    QApplication::setApplicationName(QStringLiteral("vemko-vpn"));
    QApplication::setApplicationDisplayName(QStringLiteral("Vemko VPN"));
    QApplication::setDesktopFileName(QStringLiteral("vemko-vpn"));
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);

    SingleInstance instance(TunnelPaths::defaultRuntimeDir());
    switch (instance.claim(app.arguments())) {
    case SingleInstance::Role::Forwarded:
        return 0;
    case SingleInstance::Role::Failed:
        std::fprintf(stderr, "vemko-vpn: another copy is running but did not answer\n");
        return 1;
    case SingleInstance::Role::First:
        break;
    }
    // A system package brings its own entry under /usr/share; a copy in the user's folder would
    // shadow it and outlive the package.
    if (!InstallLayout::isPackageManaged(QCoreApplication::applicationDirPath()))
        DesktopEntry::install(QCoreApplication::applicationFilePath(), DesktopEntry::defaultDataHome());
    Brand::applyLook(app);
    const std::jthread fonts = Brand::warmUpFonts();

    AppCore core;
    AppModel::setShared(core.model());
    Vpn::setShared(core.vpn());
    Updater::setShared(core.updater());
    GuiDesktop desktop;
    ScreenContext context{AppModel::shared(), Vpn::shared(), Updater::shared(),
                          core.store(),       desktop,       Clock::system()};
    context.loginItem = &XdgLoginItem::forThisApp();
    context.apiOrigin = core.api().origin();
    VemkoVPNApp vemko(context, core.api().origin());
    instance.setHandler([&vemko](const QStringList& arguments) { vemko.handleArguments(arguments); });
    vemko.handleArguments(app.arguments());
    // SIGTERM (the session ending, `kill`), SIGHUP and Ctrl-C end the app as its own quit does: the
    // event loop returns and everything is taken down in order. The tunnel stays with its host.
    const Interrupts interrupts([&desktop] { desktop.terminate(); });
    return app.exec();
}
