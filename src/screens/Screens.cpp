#include "Screens.h"

#include "DevicesView.h"
#include "HomeView.h"
#include "LoginView.h"
#include "MoreView.h"
#include "TariffsView.h"
#include "device/Store.h"
#include "platform/HelperInstaller.h"
#include "platform/LoginItem.h"
#include "service/Api.h"

namespace {
QString origin(const ScreenContext& context) {
    return context.apiOrigin.isEmpty() ? Api::defaultOrigin() : context.apiOrigin;
}
} // namespace

QWidget* makeSignInScreen(const ScreenContext& context, QWidget* parent) {
    return new LoginView(context.model, context.store, context.desktop, parent);
}

QWidget* makeHomeScreen(const ScreenContext& context, QWidget* parent) {
    return new HomeView(context.model, context.vpn, context.clock, parent);
}

QWidget* makeTariffsScreen(const ScreenContext& context, QWidget* parent) {
    return new TariffsView(context.model, context.desktop, origin(context), parent);
}

QWidget* makeDevicesScreen(const ScreenContext& context, QWidget* parent) {
    return new DevicesView(context.model, context.store.hwid(), parent);
}

QWidget* makeMoreScreen(const ScreenContext& context, QWidget* parent) {
    LoginItem& loginItem = context.loginItem ? *context.loginItem : XdgLoginItem::forThisApp();
    auto* view = new MoreView(context.model, context.updater, context.store, context.desktop, loginItem,
                              origin(context), parent);
    view->addTunnelModeChoice(context.vpn,
                              context.helperInstaller
                                  ? *context.helperInstaller
                                  : *new HelperInstaller({pkexec::program}, HelperInstaller::bundledFolder(),
                                                         HelperInstaller::defaultInstalled(), view));
    return view;
}
