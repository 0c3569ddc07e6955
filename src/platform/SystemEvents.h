#pragma once

#include <QDBusConnection>
#include <QObject>

// What the machine says about itself that puts a running tunnel in doubt, heard on the system
// bus: NetworkManager has the machine online again (or on another network), logind reports the
// wake from sleep. A service that is not there only means its word never comes.
class SystemEvents : public QObject {
    Q_OBJECT
public:
    explicit SystemEvents(QDBusConnection bus = QDBusConnection::systemBus(), QObject* parent = nullptr);

signals:
    void networkChanged();
    void woke();

private slots:
    void onNetworkState(uint state);
    void onPrepareForSleep(bool sleeping);
};
