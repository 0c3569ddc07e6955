#!/bin/bash
# Installs this AppDir for the current user, no root needed: checks its signature and copies it
# to ~/.local/opt/Vemko VPN.AppDir with the same swap the self-update runs (vemko-install), then
# adds the desktop entry, the icons and the "vemko" link handler under $XDG_DATA_HOME.
set -euo pipefail
here=$(dirname -- "$(readlink -f -- "$0")")
target="$HOME/.local/opt/Vemko VPN.AppDir"
data=${XDG_DATA_HOME:-$HOME/.local/share}

"$here/bin/vemko-install" "$here"

# Exec quoted as desktop entries quote: inside "...", \ " ` $ escaped, % doubled, then the
# key's own string escaping doubles each backslash.
exe="$target/bin/vemko-vpn"
q=${exe//\\/\\\\}; q=${q//\"/\\\"}; q=${q//\`/\\\`}; q=${q//\$/\\\$}; q=${q//%/%%}; q=${q//\\/\\\\}
mkdir -p "$data/applications" "$data/icons"
EXEC_LINE="Exec=\"$q\" -- %u" awk '/^Exec=/ { print ENVIRON["EXEC_LINE"]; next } { print }' \
    "$target/share/applications/vemko-vpn.desktop" >"$data/applications/vemko-vpn.desktop.new"
mv -f -- "$data/applications/vemko-vpn.desktop.new" "$data/applications/vemko-vpn.desktop"
cp -R -- "$target/share/icons/hicolor" "$data/icons/"
if command -v xdg-mime >/dev/null; then
    xdg-mime default vemko-vpn.desktop x-scheme-handler/vemko || true
fi
if command -v update-desktop-database >/dev/null; then
    update-desktop-database -q "$data/applications" || true
fi
echo "Ярлык Vemko VPN добавлен в меню приложений."
