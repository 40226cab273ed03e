#!/usr/bin/env bash
# Checks the Windows setup program $1 (of version $2) under Wine, in the prefix WINEPREFIX (made
# anew by the caller) on a virtual display, as a user and an administrator meet it. Twice:
#  1. with a developer's long PATH: a silent install adds the program folder, a second install
#     leaves it, every program and the setup carry their version information, the uninstall
#     entry is complete, and the silent uninstall, run as the uninstall entry gives it, leaves
#     the PATH as it was, byte for byte;
#  2. with a short PATH: dpx20ctl from a console finds the program through it (Wine reads only
#     the first 1024 characters of the user's PATH into a process's environment, so it could
#     not through the long one), the panel starts from its Start-menu shortcut and in a
#     profile, and the uninstall leaves no program file, the PATH as it was and the settings.
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

# The user's PATH now, exported by Windows' own reg into $tmp/$1.reg.
export_path() {
  rm -f "$tmp/$1.reg"
  wine reg export 'HKCU\Environment' "$(winepath -w "$tmp/$1.reg")" /y </dev/null >/dev/null 2>&1
}
# A registry value of the uninstall entry.
entry() {
  wine reg query "$uninstall_key" /v "$1" </dev/null 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$1 *REG_[A-Z]* *//p"
}

# Sets the user's PATH to the list `user_path.py make $1` gives and keeps it as $tmp/$1.reg.
set_path() {
  python3 "$here/user_path.py" make "$1" "$tmp/$1.reg"
  wine regedit /s "$(winepath -w "$tmp/$1.reg")" </dev/null >/dev/null 2>&1
  export_path "$1-set"
  python3 "$here/user_path.py" check "$tmp/$1-set.reg" "$tmp/$1.reg"
}
# Checks that the user's PATH is list $1 with the program folder appended ("+") or not ("=").
check_path() {
  export_path "$1-now"
  if [ "$2" = + ]; then
    python3 "$here/user_path.py" check "$tmp/$1-now.reg" "$tmp/$1.reg" "$install_dir_windows"
  else
    python3 "$here/user_path.py" check "$tmp/$1-now.reg" "$tmp/$1.reg"
  fi
}
install() {
  wine "$setup" /S </dev/null
  wineserver -w
}
# Uninstalls silently as Settings' Apps list does: the uninstall entry's QuietUninstallString,
# "C:\...\uninstall.exe" /S, run by that Windows path (not a Z:\ one), then waits for the
# uninstaller's copy in the temporary folder to finish.
uninstall() {
  local quiet uninstaller
  quiet=$(entry QuietUninstallString)
  uninstaller=$(echo "$quiet" | sed -n 's/^"\(.*\)" \/S$/\1/p')
  [ "$uninstaller" = "$install_dir_windows\\uninstall.exe" ] || { echo "QuietUninstallString: $quiet" >&2; exit 1; }
  wine "$uninstaller" /S </dev/null
  wineserver -w
  for _ in $(seq 100); do [ ! -e "$install_dir" ] && break; sleep 0.1; done
  [ ! -e "$install_dir" ] || { echo "left behind:" >&2; find "$install_dir" >&2; exit 1; }
  [ -z "$(entry DisplayName)" ] || { echo "the uninstall entry stays" >&2; exit 1; }
}

echo "== 1. a developer's long PATH: silent install"
set_path long
install
for f in dpx20remote.exe dpx20ctl.exe dpx20remote-launch.exe uninstall.exe Qt6Core.dll \
         platforms/qwindows.dll libstdc++-6.dll; do
  [ -f "$install_dir/$f" ] || { echo "not installed: $f" >&2; exit 1; }
done
[ -f "$shortcut" ] || { echo "no Start-menu shortcut" >&2; exit 1; }
check_path long +
echo "PATH: the program folder appended, every other byte as it was"
install
check_path long +
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

echo "== silent uninstall"
uninstall
check_path long =
echo "PATH: as before the install, byte for byte"

echo "== 2. a short PATH: silent install"
set_path short
install
check_path short +

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
uninstall
[ ! -e "$programs/DPX20 Remote" ]
[ -s "$data_dir/dpx20remote.ini" ]  # the user's settings stay
check_path short =
echo "PATH: as before the install"
