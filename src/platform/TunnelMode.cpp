#include "platform/TunnelMode.h"

QString tunnel_mode::name(TunnelMode mode) {
    switch (mode) {
    case TunnelMode::System:
        return QStringLiteral("system");
    case TunnelMode::DesktopProxy:
        return QStringLiteral("desktop_proxy");
    case TunnelMode::Socks:
        break;
    }
    return QStringLiteral("socks");
}

std::optional<TunnelMode> tunnel_mode::parse(const QString& text) {
    for (const TunnelMode mode : {TunnelMode::System, TunnelMode::DesktopProxy, TunnelMode::Socks})
        if (text == name(mode))
            return mode;
    return std::nullopt;
}

TunnelMode tunnel_mode::fallback(bool helperInstalled, bool desktopSession) {
    if (helperInstalled)
        return TunnelMode::System;
    return desktopSession ? TunnelMode::DesktopProxy : TunnelMode::Socks;
}

bool tunnel_mode::desktopSession() {
    return !qEnvironmentVariable("XDG_CURRENT_DESKTOP").trimmed().isEmpty();
}
