#pragma once

#include <QString>

namespace DesktopEntry {

// The desktop entry that names the app and makes it the handler of "vemko" links: Exec runs
// `executable` with "--" before the link, so a link that starts with "-" is never an option.
QString text(const QString& executable);

// Writes vemko-vpn.desktop (and the app's icon) into `dataHome`/applications when missing or
// pointing at another executable, then registers it for x-scheme-handler/vemko with xdg-mime
// when that tool is there. True when the entry was (re)written.
bool install(const QString& executable, const QString& dataHome);

// $XDG_DATA_HOME, else ~/.local/share.
QString defaultDataHome();

// Quotes a program path for an Exec line.
QString quoteExec(const QString& program);

} // namespace DesktopEntry
