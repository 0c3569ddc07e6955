#pragma once

#include <QCoroTask>
#include <QPointer>

class AppModel;
class Clock;
class Store;
class Updater;
class Vpn;

// Brings the tunnel status, the account and the update state up to date when the main window's
// content is shown, starts the 3-hourly update check (unless `startUpdateLoop` is false: one loop per
// process is enough, however often the window is reopened) and reconnects the tunnel that was on
// when the app was last left. Store and clock must outlive it; the controllers may go at any time.
QCoro::Task<> runStartup(AppModel& model, Vpn& vpn, Updater& updater, const Store& store, Clock& clock,
                         bool startUpdateLoop = true);

// Checks for an update every 3 hours for as long as the updater lives.
QCoro::Task<> keepCheckingForUpdates(QPointer<Updater> updater, Clock& clock);
