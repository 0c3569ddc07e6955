#pragma once

#include <QString>
#include <QStringList>

// What the operating system tells about this machine.
class DeviceFacts {
public:
    virtual ~DeviceFacts() = default;
    // A stable machine identifier; empty when none can be read.
    virtual QString platformUuid() const = 0;
    // The hardware model text as the system reports it (untrimmed); empty when unreadable.
    virtual QString model() const = 0;
    // Human-readable OS version: the distribution's pretty name and the kernel version.
    virtual QString osVersionText() const = 0;
    // The OS word sent in "User-Agent" and "X-Device-Os".
    virtual QString osWord() const { return QStringLiteral("Linux"); }
    // The value of the update check's platform= query.
    virtual QString platformQuery() const { return QStringLiteral("linux"); }
};

// /etc/machine-id (else /var/lib/dbus/machine-id), /sys/class/dmi/id/product_name read on every
// call, QSysInfo for the version text. Paths can be pointed elsewhere for tests.
class LinuxDeviceFacts final : public DeviceFacts {
public:
    LinuxDeviceFacts();
    LinuxDeviceFacts(QStringList machineIdPaths, QString productNamePath);
    QString platformUuid() const override;
    QString model() const override;
    QString osVersionText() const override;

private:
    QStringList m_machineIdPaths;
    QString m_productNamePath;
    QString m_osVersionText; // read once: neither the distribution nor the kernel changes under us
};
