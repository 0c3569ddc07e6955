#include "model/AppModel.h"
#include "tunnel/Vpn.h"
#include "update/Updater.h"

#include <QtGlobal>

// The running application's three controllers. main() sets each once, before the shell starts.
namespace {
AppModel* sharedModel = nullptr;
Vpn* sharedVpn = nullptr;
Updater* sharedUpdater = nullptr;

template <typename T> T& get(T* instance, const char* name) {
    if (!instance)
        qFatal("%s::shared() used before main() set it", name);
    return *instance;
}
} // namespace

AppModel& AppModel::shared() {
    return get(sharedModel, "AppModel");
}
void AppModel::setShared(AppModel& model) {
    sharedModel = &model;
}
Vpn& Vpn::shared() {
    return get(sharedVpn, "Vpn");
}
void Vpn::setShared(Vpn& vpn) {
    sharedVpn = &vpn;
}
Updater& Updater::shared() {
    return get(sharedUpdater, "Updater");
}
void Updater::setShared(Updater& updater) {
    sharedUpdater = &updater;
}
