#!/usr/bin/env bash
# Checks the Windows setup program $1 (of version $2) under Wine, in the prefix WINEPREFIX (made
# anew by the caller) on a virtual display, as a user and an administrator meet it: a silent
# install into a user's long PATH, a second install over it, version information in every
# program, the uninstall entry, dpx20ctl from a console, the panel started from its Start-menu
# shortcut and in a profile, and the silent uninstall as Settings' Apps list runs it, leaving the
# PATH as it was, byte for byte.
set -euo pipefail
setup=$1
version=$2
here=$(cd "$(dirname "$0")" && pwd)
windows() { wine cmd /c echo "$1" 2>/dev/null </dev/null | tr -d '\r'; }
unix() { winepath -u "$(windows "$1")"; }
local_app_data=$(unix '%LOCALAPPDATA%')
programs=$(unix '%APPDATA%')/Microsoft/Windows/Start\ Menu/Programs
install_dir=$local_app_data/Programs/dpx20remote
install_dir_windows="$(windows '%LOCALAPPDATA%')\\Programs\\dpx20remote"
data_dir=$local_app_data/dpx20remote
shortcut="$programs/DPX20 Remote/DPX20 Remote.lnk"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\dpx20remote'
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The user's PATH now, exported by Windows' own reg.
export_path() {
  rm -f "$tmp/$1.reg"
  wine reg export 'HKCU\Environment' "$(winepath -w "$tmp/$1.reg")" /y </dev/null >/dev/null 2>&1
}
# A registry value of the uninstall entry.
entry() {
  wine reg query "$uninstall_key" /v "$1" </dev/null 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$1 *REG_[A-Z]* *//p"
}

echo "== a user's long PATH"
python3 "$here/user_path.py" make "$tmp/path.reg"
wine regedit /s "$(winepath -w "$tmp/path.reg")" </dev/null >/dev/null 2>&1
export_path before
python3 "$here/user_path.py" check "$tmp/before.reg" "$tmp/path.reg"

echo "== silent install"
wine "$setup" /S </dev/null
wineserver -w
for f in dpx20remote.exe dpx20ctl.exe dpx20remote-launch.exe uninstall.exe Qt6Core.dll \
         platforms/qwindows.dll libstdc++-6.dll; do
  [ -f "$install_dir/$f" ] || { echo "not installed: $f" >&2; exit 1; }
done
[ -f "$shortcut" ] || { echo "no Start-menu shortcut" >&2; exit 1; }
export_path installed
python3 "$here/user_path.py" check "$tmp/installed.reg" "$tmp/path.reg" "$install_dir_windows"
echo "PATH: the program folder appended, every other byte as it was"
wine "$setup" /S </dev/null
wineserver -w
export_path reinstalled
python3 "$here/user_path.py" check "$tmp/reinstalled.reg" "$tmp/path.reg" "$install_dir_windows"
echo "PATH: a second install leaves it so"

echo "== version information and the uninstall entry"
# Each program's version resource, in UTF-16 as Windows keeps it.
for exe in "$setup" "$install_dir"/*.exe; do
  info=$(strings -el "$exe" | tr '\n' '|')
  for field in "ProductName|DPX20 Remote" "FileVersion|$version" "ProductVersion|$version" \
               "CompanyName|dpx20remote developers"; do
    case $info in *"|$field|"*) ;; *) echo "$(basename "$exe"): no $field" >&2; exit 1 ;; esac
  done
done
installed_bytes=$(find "$install_dir" -type f -printf '%s\n' | awk '{ n += $1 } END { print n }')
estimated_kib=$(( $(entry EstimatedSize) ))
echo "installed: $installed_bytes bytes in files; uninstall entry: $(entry DisplayName)" \
     "$(entry DisplayVersion), $(entry Publisher), $estimated_kib KiB, icon $(entry DisplayIcon)"
[ "$(entry DisplayVersion)" = "$version" ]
[ "$(entry Publisher)" = "dpx20remote developers" ]
[ "$(entry DisplayIcon)" = "$install_dir_windows\\dpx20remote.exe,0" ]
# Rounded per file or for the whole: within a KiB a file.
files=$(find "$install_dir" -type f | wc -l)
[ $(( estimated_kib - installed_bytes / 1024 )) -le "$files" ] && [ $(( installed_bytes / 1024 - estimated_kib )) -le "$files" ] ||
  { echo "EstimatedSize $estimated_kib KiB for $installed_bytes bytes" >&2; exit 1; }

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

echo "== silent uninstall, as the uninstall entry gives it"
# QuietUninstallString is "C:\...\uninstall.exe" /S: run by that Windows path, not a Z:\ one.
quiet=$(entry QuietUninstallString)
uninstaller=$(echo "$quiet" | sed -n 's/^"\(.*\)" \/S$/\1/p')
[ "$uninstaller" = "$install_dir_windows\\uninstall.exe" ] || { echo "QuietUninstallString: $quiet" >&2; exit 1; }
wine "$uninstaller" /S </dev/null
wineserver -w
for _ in $(seq 100); do [ ! -e "$install_dir" ] && break; sleep 0.1; done
[ ! -e "$install_dir" ] || { echo "left behind:" >&2; find "$install_dir" >&2; exit 1; }
[ ! -e "$programs/DPX20 Remote" ]
[ -s "$data_dir/dpx20remote.ini" ]  # the user's settings stay
[ -z "$(entry DisplayName)" ]
export_path uninstalled
python3 "$here/user_path.py" check "$tmp/uninstalled.reg" "$tmp/path.reg"
echo "PATH: as before the install, byte for byte"
