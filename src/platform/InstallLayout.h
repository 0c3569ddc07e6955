#pragma once

#include <QString>

// Where the app's own helper programs sit, for the two ways it is installed: an AppDir (or the
// build folder) holds everything in one folder next to the app; a system package puts the app in
// <prefix>/bin and the helpers (vemko-tunnel, vemko-codesign) in <prefix>/lib/vemko-vpn.
namespace InstallLayout {

// The folder of helpers for an app running from `appDir`: `appDir` itself when it holds
// vemko-tunnel, else <appDir>/../lib/vemko-vpn when that holds it, else `appDir`.
QString helperDirFor(const QString& appDir);

// helperDirFor() of the running executable's folder.
QString helperDir();

// True for an executable under /usr: installed by the system's package manager, which also
// updates it; the app never replaces itself there.
bool isPackageManaged(const QString& appDir);

} // namespace InstallLayout
