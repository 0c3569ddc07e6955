#pragma once

#include <QString>
#include <optional>

// How much of the machine's traffic the tunnel carries, stored as "tunnel_mode".
//   System        every program: vemko-netd captures all IPv4 TCP and DNS, refuses the rest, and
//                 holds everything back when the engine dies (the kill switch)
//   DesktopProxy  programs that follow the desktop's proxy settings
//   Socks         only programs pointed at the SOCKS entry 127.0.0.1:10808
enum class TunnelMode { System, DesktopProxy, Socks };

namespace tunnel_mode {
QString name(TunnelMode mode);                        // "system" | "desktop_proxy" | "socks"
std::optional<TunnelMode> parse(const QString& text); // nothing for any other text
// With the privileged helper installed, the whole system; without it, the desktop's proxy when a
// desktop session is there to follow it, else the SOCKS entry alone (a server over SSH, a bare
// window manager: nothing reads a desktop proxy there, and setting one would only fail the connect).
TunnelMode fallback(bool helperInstalled, bool desktopSession);
// A desktop whose proxy settings programs follow: XDG_CURRENT_DESKTOP names one.
bool desktopSession();
} // namespace tunnel_mode
