#pragma once

#include <string>

// The user's own proxy settings, saved by the app's DesktopProxy before it points them at the
// tunnel, and put back from here by whoever ends the desktop-proxy mode: the app, the tunnel host,
// or the host's guard once the host is gone.
namespace os {

// $XDG_STATE_HOME/vemko-vpn (~/.local/state without it).
std::string proxyStateDir();
std::string gnomeProxyBackup(const std::string& stateDir); // `dconf dump /system/proxy/`
std::string kdeProxyBackup(const std::string& stateDir);   // "key=value" lines of kioslaverc

// GNOME exactly as saved (what the user never set is unset again); the backup goes once restored.
void restoreGnomeProxy(const std::string& stateDir);
// KDE's "Proxy Settings" (an empty value removes the key), then the reparse signal.
void restoreKdeProxy(const std::string& stateDir);
// Both; nothing happens where no backup is.
void restoreDesktopProxy(const std::string& stateDir);

// Where GNOME keeps the proxy settings in dconf.
inline constexpr const char* gnomeProxyPath = "/system/proxy/";
// KDE's config tool for `verb` ("read", "write"): kreadconfig6/5, kwriteconfig6/5 on PATH, the
// newest first; empty without one.
std::string kdeConfigTool(const std::string& verb);
// Tells KDE's programs to read the proxy settings again.
void reparseKdeProxy();

} // namespace os
