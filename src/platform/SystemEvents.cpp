#include "platform/SystemEvents.h"

namespace {

// NetworkManager's NM_STATE_CONNECTED_GLOBAL: the machine reaches the internet. The states on
// the way down say nothing a proof could act on; the tunnel is proved once it is back.
constexpr uint connectedGlobal = 70;

} // namespace

SystemEvents::SystemEvents(QDBusConnection bus, QObject* parent) : QObject(parent) {
    bus.connect(QStringLiteral("org.freedesktop.NetworkManager"),
                QStringLiteral("/org/freedesktop/NetworkManager"),
                QStringLiteral("org.freedesktop.NetworkManager"), QStringLiteral("StateChanged"), this,
                SLOT(onNetworkState(uint)));
    bus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                SLOT(onPrepareForSleep(bool)));
}

void SystemEvents::onNetworkState(uint state) {
    if (state == connectedGlobal)
        emit networkChanged();
}

void SystemEvents::onPrepareForSleep(bool sleeping) {
    if (!sleeping)
        emit woke();
}
