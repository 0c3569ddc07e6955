#include "model/Startup.h"

#include "device/Store.h"
#include "model/AppModel.h"
#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "platform/MainTask.h"
#include "tunnel/Vpn.h"
#include "update/Updater.h"

#include <chrono>

using namespace std::chrono_literals;

namespace {

constexpr auto updateCheckInterval = 3h;
const QString wasConnectedKey = QStringLiteral("was_connected");

} // namespace

QCoro::Task<> runStartup(AppModel& model, Vpn& vpn, Updater& updater, const Store& store, Clock& clock,
                         bool startUpdateLoop) {
    const QPointer<AppModel> app(&model);
    const QPointer<Vpn> tunnel(&vpn);
    const QPointer<Updater> updates(&updater);

    tunnel->syncStatus();
    co_await app->load();
    if (!updates)
        co_return;
    co_await updates->check(true);
    if (!updates)
        co_return;
    if (startUpdateLoop)
        startMainTask(keepCheckingForUpdates(updates, clock));

    // Decided after the load above, so the account and the server list are fresh.
    if (!app || !tunnel)
        co_return;
    const bool wasConnected = store.d().boolean(wasConnectedKey).value_or(false);
    const auto account = app->me();
    const auto server = app->selected();
    if (store.autoConnect() && wasConnected && tunnel->status() == Vpn::Status::Off && account &&
        account->active && server)
        co_await tunnel->connect(*server);
}

QCoro::Task<> keepCheckingForUpdates(QPointer<Updater> updater, Clock& clock) {
    while (updater) {
        try {
            co_await clock.sleep(updateCheckInterval);
        } catch (...) {
            // A failed wait does not end the loop.
        }
        if (!updater)
            co_return;
        co_await updater->check(true);
    }
}
