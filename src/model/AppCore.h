#pragma once

#include "device/Keychain.h"
#include "device/Store.h"
#include "model/AppModel.h"
#include "platform/Defaults.h"
#include "platform/DefaultsWatcher.h"
#include "platform/Desktop.h"
#include "platform/DeviceFacts.h"
#include "platform/LinuxExtensionManager.h"
#include "platform/LinuxTunnelSystem.h"
#include "platform/SecureStore.h"
#include "platform/SystemEvents.h"
#include "service/Api.h"
#include "tunnel/Vpn.h"
#include "update/Updater.h"

#include <QNetworkAccessManager>

// The running application's objects on Linux, built once, in dependency order: the settings file,
// the device facts, the Secret Service, the service client, the tunnel, the updater and the model.
// The GUI's main() and the command line each own one (after their Q*Application) and drive the
// same controllers through it.
class AppCore {
public:
    AppCore();
    AppCore(const AppCore&) = delete;
    AppCore& operator=(const AppCore&) = delete;

    AppModel& model() { return m_model; }
    Vpn& vpn() { return m_vpn; }
    Updater& updater() { return m_updater; }
    Api& api() { return m_api; }
    Store& store() { return m_store; }
    Desktop& desktop() { return m_desktop; }

private:
    FileDefaults m_defaults;
    LinuxDeviceFacts m_facts;
    LibsecretStore m_secrets;
    Store m_store;
    Keychain m_keychain;
    QNetworkAccessManager m_network;       // the service and update downloads
    QNetworkAccessManager m_tunnelNetwork; // the exit-address lookup, through the tunnel
    Api m_api;
    LinuxTunnelSystem m_tunnels;
    LinuxExtensionManager m_extensions;
    LinuxDesktop m_desktop;
    Vpn m_vpn;
    Updater m_updater;
    AppModel m_model;
    SystemEvents m_systemEvents; // the network and sleep put the running tunnel in doubt
    DefaultsWatcher m_settingsWatch{m_defaults.path()}; // vemkoctl and the window follow each other
};
