#!/usr/bin/env bash
# Checks the Windows setup program $1 under Wine, in the prefix WINEPREFIX (made anew by the
# caller) on a virtual display: silent install, dpx20ctl from a console, the panel started from
# its Start-menu shortcut and in a profile, silent uninstall.
set -euo pipefail
setup=$1
unix() { winepath -u "$(wine cmd /c echo "$1" 2>/dev/null </dev/null | tr -d '\r')"; }
local_app_data=$(unix '%LOCALAPPDATA%')
programs=$(unix '%APPDATA%')/Microsoft/Windows/Start\ Menu/Programs
install_dir=$local_app_data/Programs/dpx20remote
data_dir=$local_app_data/dpx20remote
shortcut="$programs/DPX20 Remote/DPX20 Remote.lnk"

echo "== silent install"
wine "$setup" /S </dev/null
wineserver -w
for f in dpx20remote.exe dpx20ctl.exe dpx20remote-launch.exe uninstall.exe Qt6Core.dll \
         platforms/qwindows.dll libstdc++-6.dll; do
  [ -f "$install_dir/$f" ] || { echo "not installed: $f" >&2; exit 1; }
done
[ -f "$shortcut" ] || { echo "no Start-menu shortcut" >&2; exit 1; }

echo "== dpx20ctl from a console"
wine cmd /c dpx20ctl --help </dev/null 2>&1 | tr -d '\r' | grep -q '^Usage: dpx20ctl'

echo "== the panel from its shortcut"
[ ! -e "$data_dir" ]
wine start /unix "$shortcut" </dev/null >/dev/null 2>&1
# The notice about the missing options file, then the panel; each window by its title.
close() {
  local w
  w=$(timeout 60 xdotool search --sync --onlyvisible --name "$1" | head -n 1)
  xdotool windowfocus --sync "$w" key "$2"
}
close "^dpx20remote\$" Return  # "Do not found option file! ... Create new file."
for _ in $(seq 100); do [ -s "$data_dir/dpx20remote.ini" ] && break; sleep 0.1; done
grep -q "DPX20 Remote Settings" "$data_dir/dpx20remote.ini"
close "^ZR-DPX20 Remote\$" Escape
wineserver -w
[ ! -e "$install_dir/dpx20remote.ini" ]

echo "== the launcher with a profile"
wine "$install_dir/dpx20remote-launch.exe" --profile studio-a </dev/null >/dev/null 2>&1
close "^dpx20remote\$" Return
for _ in $(seq 100); do [ -s "$data_dir/studio-a/dpx20remote.ini" ] && break; sleep 0.1; done
grep -q "DPX20 Remote Settings" "$data_dir/studio-a/dpx20remote.ini"
close "^ZR-DPX20 Remote\$" Escape
wineserver -w

echo "== silent uninstall"
wine "$install_dir/uninstall.exe" /S </dev/null
wineserver -w
for _ in $(seq 100); do [ ! -e "$install_dir" ] && break; sleep 0.1; done
[ ! -e "$install_dir" ] || { echo "left behind:" >&2; find "$install_dir" >&2; exit 1; }
[ ! -e "$programs/DPX20 Remote" ]
[ -s "$data_dir/dpx20remote.ini" ]  # the user's settings stay
