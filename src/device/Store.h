#pragma once

#include "platform/BundleInfo.h"
#include "platform/TunnelMode.h"

#include <QString>

class Defaults;
class DeviceFacts;

// Device facts sent with every request, and the stored behaviour settings.
class Store {
public:
    Store(Defaults& defaults, const DeviceFacts& facts, BundleInfo bundle = BundleInfo::compiled());

    // Stored value of "hwid", else sha256("vemko:" + machine id), stored on first computation.
    QString hwid() const;
    // The hardware model, read on every call; "PC" when empty or unreadable.
    QString deviceModel() const;
    // Marketing version; "1.0.0" when missing.
    QString appVersion() const;
    // Build number parsed as a decimal integer; 1 when missing, empty or not a number.
    qint64 appBuild() const;
    bool preview() const { return m_bundle.preview; }
    // "auto_connect" / "auto_update": the stored Boolean, true for anything else.
    bool autoConnect() const;
    bool autoUpdate() const;
    // "tunnel_mode": the stored mode; without one (or with an unknown text), the whole system when
    // the privileged helper is installed, else as tunnel_mode::fallback picks.
    TunnelMode tunnelMode() const;
    // False when it could not be saved.
    bool setTunnelMode(TunnelMode mode);

    // The OS word ("Linux"), the OS version text, the update check's platform query value.
    QString osWord() const;
    QString osVersionText() const;
    QString platformQuery() const;

    Defaults& d() const { return m_defaults; }

private:
    Defaults& m_defaults;
    const DeviceFacts& m_facts;
    BundleInfo m_bundle;
};
