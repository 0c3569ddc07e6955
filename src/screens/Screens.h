#pragma once

#include <QString>

class AppModel;
class Clock;
class Desktop;
class LoginItem;
class QWidget;
class Store;
class Updater;
class Vpn;

// What a screen may be given: the running controllers and the desktop around the app.
struct ScreenContext {
    AppModel& model;
    Vpn& vpn;
    Updater& updater;
    Store& store;
    Desktop& desktop;
    Clock& clock;
    // Start at login; none: the running executable's XDG autostart entry.
    LoginItem* loginItem = nullptr;
    // The service's address (the card footnote, the account page); empty: the built-in one.
    QString apiOrigin = {};
};

// The screens the main window shows, one factory each, so the window never names a screen's type.
QWidget* makeSignInScreen(const ScreenContext& context, QWidget* parent);
QWidget* makeHomeScreen(const ScreenContext& context, QWidget* parent);
QWidget* makeTariffsScreen(const ScreenContext& context, QWidget* parent);
QWidget* makeDevicesScreen(const ScreenContext& context, QWidget* parent);
QWidget* makeMoreScreen(const ScreenContext& context, QWidget* parent);
