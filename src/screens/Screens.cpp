#include "Screens.h"

#include "HomeView.h"
#include "Placeholder.h"

QWidget* makeSignInScreen(const ScreenContext&, QWidget* parent) {
    return new Placeholder(QStringLiteral("signInScreen"), QStringLiteral("Вход"), parent);
}

QWidget* makeHomeScreen(const ScreenContext& context, QWidget* parent) {
    return new HomeView(context.model, context.vpn, context.clock, parent);
}

QWidget* makeTariffsScreen(const ScreenContext&, QWidget* parent) {
    return new Placeholder(QStringLiteral("tariffsScreen"), QStringLiteral("Тариф"), parent);
}

QWidget* makeDevicesScreen(const ScreenContext&, QWidget* parent) {
    return new Placeholder(QStringLiteral("devicesScreen"), QStringLiteral("Устройства"), parent);
}

QWidget* makeMoreScreen(const ScreenContext&, QWidget* parent) {
    return new Placeholder(QStringLiteral("moreScreen"), QStringLiteral("Ещё"), parent);
}
