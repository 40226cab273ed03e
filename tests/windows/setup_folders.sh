#!/usr/bin/env bash
# Checks under Wine, in the prefix WINEPREFIX that tests/windows/setup_check.sh has used (its
# user PATH set), that the Windows setup program $1 (of version $2) and its uninstaller touch
# only their own files and leave no install behind:
#  1. /D= a folder holding a user's file and another program's folder (a Qt DLL of its own
#     among its files): the programs go into a folder of theirs inside it, a file the user puts
#     beside them stays, and the folder is as it was, byte for byte, after the uninstall; a
#     folder whose "dpx20remote" folder also holds other files is refused with exit code 4;
#  2. an install into another folder removes the earlier one whole, its PATH entry with it;
#  3. a program running from the install folder (dpx20ctl serve) makes the silent setup and
#     uninstaller exit with code 3, changing nothing; the interactive setup asks, ends with 3 on
#     Cancel and goes on with Retry once the program has ended;
#  4. /ALLUSERS: Program Files, the machine's uninstall entry, all users' Start menu and the
#     system PATH, installed twice and removed as its uninstall entry says, the system PATH
#     byte for byte as before and the user's untouched;
#  5. both programs' --version and --help, and the application manifest of every program.
set -euo pipefail
setup=$1
version=$2
here=$(cd "$(dirname "$0")" && pwd)
windows() { wine cmd /c echo "$1" 2>/dev/null </dev/null | tr -d '\r'; }
unix() { winepath -u "$(windows "$1")"; }
drive_c=$(unix 'C:\')
user_dir=$(unix '%LOCALAPPDATA%')/Programs/dpx20remote
user_dir_windows="$(windows '%LOCALAPPDATA%')\\Programs\\dpx20remote"
user_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\dpx20remote'
machine_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\dpx20remote'
machine_env='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
tmp=$(mktemp -d)
serve=
trap '[ -z "$serve" ] || kill "$serve" 2>/dev/null; rm -rf "$tmp"' EXIT

fail() { echo "setup_folders: $*" >&2; exit 1; }
# Value $2 of registry key $1.
value() {
  wine reg query "$1" /v "$2" </dev/null 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z]* *//p"
}
# The PATH of registry key $1 (HKCU\Environment or the machine's) into $tmp/$2.reg.
export_path() {
  rm -f "$tmp/$2.reg"
  wine reg export "$1" "$(winepath -w "$tmp/$2.reg")" /y </dev/null >/dev/null 2>&1
}
# Every name, kind and content beneath folder $1, as one checksum.
tree_sum() {
  (cd "$1" && find . -printf '%y %p\n' | LC_ALL=C sort &&
     find . -type f -print0 | LC_ALL=C sort -z | xargs -0r sha256sum) | sha256sum | cut -d' ' -f1
}
# Runs program $2 with the rest as arguments and checks that it exits with code $1; what it
# told is in $tmp/told. (Wine waits for the program; wineserver -w would wait for a running
# dpx20ctl serve too.)
expect() {
  local want=$1 code=0; shift
  wine "$@" </dev/null >"$tmp/told" 2>&1 || code=$?
  [ "$code" = "$want" ] || { cat "$tmp/told" >&2; fail "$(basename "$1") ${*:2}: exit code $code, not $want"; }
}
# Uninstalls silently as uninstall entry $1 says (QuietUninstallString), waits for the
# uninstaller's copy in the temporary folder, and checks that the entry is gone.
uninstall() {
  local quiet program arguments
  quiet=$(value "$1" QuietUninstallString)
  program=$(echo "$quiet" | sed -n 's/^"\(.*\)".*$/\1/p')
  arguments=$(echo "$quiet" | sed -n 's/^".*" \(.*\)$/\1/p')
  # shellcheck disable=SC2086  # the switches, one word each
  wine "$program" $arguments </dev/null
  wineserver -w
  for _ in $(seq 100); do [ -z "$(value "$1" DisplayName)" ] && [ ! -e "$(winepath -u "$program")" ] && break; sleep 0.1; done
  [ -z "$(value "$1" DisplayName)" ] || fail "the uninstall entry $1 stays"
}
# Checks that exactly the staged programs are in folder $1 (the uninstaller too).
installed() {
  for f in dpx20remote.exe dpx20ctl.exe uninstall.exe Qt6Core.dll platforms/qwindows.dll; do
    [ -f "$1/$f" ] || fail "not installed in $1: $f"
  done
}

export_path 'HKCU\Environment' user-before
python3 "$here/user_path.py" check "$tmp/user-before.reg" "$tmp/user-before.reg" ||
  fail "run tests/windows/setup_check.sh first: it sets the user's PATH"

echo "== 1. /D= a folder that holds a user's file and another program's folder"
tools=$drive_c/Tools
mkdir -p "$tools/Other Tool/platforms"
printf 'Studio A: box on COM12\r\n' >"$tools/notes.txt"
printf 'another Qt\n' >"$tools/Other Tool/Qt6Core.dll"
printf 'another platform plugin\n' >"$tools/Other Tool/platforms/qwindows.dll"
before=$(tree_sum "$tools")
expect 0 "$setup" /S '/D=C:\Tools'
[ "$(value 'HKCU\Software\dpx20remote\Setup' InstallDir)" = 'C:\Tools\dpx20remote' ] || fail "not recorded in C:\\Tools\\dpx20remote"
installed "$tools/dpx20remote"
[ "$(value "$user_key" InstallLocation)" = 'C:\Tools\dpx20remote' ]
printf 'COM12\r\n' >"$tools/dpx20remote/my-ports.txt"  # the user's, beside the programs
uninstall "$user_key"
[ "$(ls -A "$tools/dpx20remote")" = my-ports.txt ] || fail "the program folder holds $(ls -A "$tools/dpx20remote")"
rm -r "$tools/dpx20remote"
[ "$(tree_sum "$tools")" = "$before" ] || fail "C:\\Tools changed"
echo "C:\\Tools as it was, byte for byte; the user's file in the program folder stays"
mkdir "$tools/dpx20remote" && printf 'x\n' >"$tools/dpx20remote/other.txt"
before=$(tree_sum "$tools")
expect 4 "$setup" /S '/D=C:\Tools'
grep -q 'holds other files' "$tmp/told" || fail "no message: $(cat "$tmp/told")"
[ "$(tree_sum "$tools")" = "$before" ] && [ -z "$(value "$user_key" DisplayName)" ] || fail "a refused setup changed things"
echo "refused with exit code 4: $(tr -d '\r' <"$tmp/told")"
rm -r "$tools"

echo "== 2. an upgrade in place, then an install into another folder"
expect 0 "$setup" /S
installed "$user_dir"
expect 0 "$setup" /S
installed "$user_dir"
expect 0 "$setup" /S '/D=C:\Apps\DPX20'
installed "$drive_c/Apps/DPX20"
[ ! -e "$user_dir" ] || fail "the earlier folder stays: $(find "$user_dir")"
export_path 'HKCU\Environment' user-now
python3 "$here/user_path.py" check "$tmp/user-now.reg" "$tmp/user-before.reg" 'C:\Apps\DPX20'
echo "the earlier install removed whole; the PATH has the new folder only"
uninstall "$user_key"
[ ! -e "$drive_c/Apps/DPX20" ] || fail "left behind: $(find "$drive_c/Apps/DPX20")"
rmdir "$drive_c/Apps"
export_path 'HKCU\Environment' user-now
python3 "$here/user_path.py" check "$tmp/user-now.reg" "$tmp/user-before.reg"

echo "== 3. a program running from the install folder"
expect 0 "$setup" /S
# In a folder of its own: serve keeps its lock and settings files in the current one.
mkdir "$tmp/serve.d"
(cd "$tmp/serve.d" && exec wine "$user_dir/dpx20ctl.exe" serve --port COM7 --api "127.0.0.1:$((20000 + RANDOM % 20000))" \
   </dev/null >"$tmp/serve" 2>&1) &
serve=$!
for _ in $(seq 300); do grep -q 'control API at' "$tmp/serve" && break; sleep 0.1; done
grep -q 'control API at' "$tmp/serve" || fail "dpx20ctl serve did not start: $(cat "$tmp/serve")"
before=$(tree_sum "$user_dir")
expect 3 "$setup" /S
grep -q 'dpx20ctl.exe' "$tmp/told" || fail "the setup does not name the program: $(cat "$tmp/told")"
echo "setup: exit code 3: $(tr -d '\r' <"$tmp/told" | head -n 2 | tr '\n' ' ')"
# Run in place (_?=) so that its own exit code comes back, not its starter's.
expect 3 "$user_dir/uninstall.exe" /S "_?=$user_dir_windows"
echo "uninstaller: exit code 3"
[ "$(tree_sum "$user_dir")" = "$before" ] || fail "the install changed while its program ran"
# Interactive: Install on the folder page, then the question; Cancel ends the setup with code
# 3, Retry once the program has ended goes on.
title="DPX20 Remote $version Setup"
window() { timeout 60 xdotool search --sync --onlyvisible --name "$1" | head -n 1; }
ask() {
  wine "$setup" </dev/null >/dev/null 2>&1 &
  setup_pid=$!
  xdotool windowfocus --sync "$(window "^$title: Installation Folder\$")" key Return
  question=$(window "^$title\$")
}
ask
xdotool windowfocus --sync "$question" key Escape
code=0 && wait "$setup_pid" || code=$?
[ "$code" = 3 ] || fail "interactive, Cancel: exit code $code"
[ "$(tree_sum "$user_dir")" = "$before" ] || fail "the install changed while its program ran"
echo "interactive: asked, Cancel: exit code 3"
ask
kill "$serve"
wait "$serve" || true
serve=
xdotool windowfocus --sync "$question" key Return
xdotool windowfocus --sync "$(window "^$title: Completed\$")" key Return
code=0 && wait "$setup_pid" || code=$?
[ "$code" = 0 ] || fail "interactive, Retry: exit code $code"
installed "$user_dir"
echo "interactive: the program ended, Retry: installed"
uninstall "$user_key"
[ ! -e "$user_dir" ] || fail "left behind: $(find "$user_dir")"

echo "== 4. for all users"
export_path "$machine_env" machine-before
machine_dir=$drive_c/Program\ Files/dpx20remote
all_menu=$drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/DPX20\ Remote
for round in install upgrade; do
  expect 0 "$setup" /S /ALLUSERS
  installed "$machine_dir"
  [ -f "$all_menu/DPX20 Remote.lnk" ] || fail "no shortcut in all users' Start menu"
  [ "$(value "$machine_key" UninstallString)" = '"C:\Program Files\dpx20remote\uninstall.exe" /ALLUSERS' ] ||
    fail "UninstallString $(value "$machine_key" UninstallString)"
  [ -z "$(value "$user_key" DisplayName)" ] || fail "a user's uninstall entry too"
  export_path "$machine_env" machine-now
  python3 "$here/user_path.py" check "$tmp/machine-now.reg" "$tmp/machine-before.reg" 'C:\Program Files\dpx20remote'
  export_path 'HKCU\Environment' user-now
  python3 "$here/user_path.py" check "$tmp/user-now.reg" "$tmp/user-before.reg"
  echo "$round: Program Files, the machine's uninstall entry and PATH, all users' Start menu"
done
uninstall "$machine_key"
[ ! -e "$machine_dir" ] && [ ! -e "$all_menu" ] || fail "left behind: $(find "$machine_dir" "$all_menu" 2>/dev/null)"
export_path "$machine_env" machine-now
python3 "$here/user_path.py" check "$tmp/machine-now.reg" "$tmp/machine-before.reg"
echo "removed: the system PATH as before, byte for byte"

echo "== 5. --version, --help and the application manifest"
expect 0 "$setup" /S
for program in dpx20remote dpx20ctl; do
  expect 0 "$user_dir/$program.exe" --version
  [ "$(tr -d '\r' <"$tmp/told")" = "$program $version" ] || fail "$program --version: $(cat "$tmp/told")"
  expect 0 "$user_dir/$program.exe" --help
  head -n 1 "$tmp/told" | grep -q "^Usage: $program " || fail "$program --help: $(head -n 3 "$tmp/told")"
done
for exe in "$user_dir"/*.exe; do
  [ "$(basename "$exe")" = uninstall.exe ] && continue  # NSIS's own
  x86_64-w64-mingw32-objdump -p "$exe" | grep -q '^0[0-9a-f]*   Entry: ID: 0x000018,' ||
    fail "$(basename "$exe"): no manifest resource"
  manifest=$(strings -n 6 "$exe")
  for setting in '<dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitorV2<' \
                 '<activeCodePage xmlns="http://schemas.microsoft.com/SMI/2019/WindowsSettings">UTF-8<' \
                 '<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>'; do
    grep -qF "$setting" <<<"$manifest" || fail "$(basename "$exe"): manifest without $setting"
  done
done
echo "--version and --help of both programs; every program's manifest: per-monitor v2, UTF-8, Windows 10/11"
uninstall "$user_key"
