#!/usr/bin/env bash
# Builds the Debian package and checks it as a user would meet it: lintian, install with apt,
# the simulator's help, the panel started offscreen (directly and through the menu entry's
# launcher, also with a profile) writing its options file where it runs, a second panel in the
# same folder refused, the menu entry and metadata, then removal.
# Needs root or sudo: it installs and removes the package on this machine.
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo

bash scripts/package.sh
deb=$(ls -t build/dpx20remote_*_amd64.deb | head -n 1)
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"

echo "== lintian"
lintian --fail-on error --display-info "$deb"

echo "== install"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y --reinstall "./$deb"
dpx20sim --help >/dev/null

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export XDG_CONFIG_HOME="$tmp/config"  # where the panel keeps its COM device choices
export XDG_RUNTIME_DIR="$tmp/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# Starts the panel with the given command on a virtual display in the given directory, answers
# the notice about the missing options file, waits for the file and closes the panel with Esc.
# With SECOND set, a second panel started the same way meanwhile must show its notice and end
# with status 1, leaving the options file as it was.
run_panel() {
  local dir=$1; shift
  mkdir -p "$dir"
  (cd "$dir" && xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    "$@" & panel=$!
    close() {  # focus the first visible window titled $1 and press $2 there
      local w; w=$(timeout 20 xdotool search --sync --onlyvisible --name "$1" | head -n 1)
      xdotool windowfocus --sync "$w" key "$2"
    }
    close "^dpx20remote\$" Return     # "Do not found option file! ... Create new file."
    for _ in $(seq 100); do [ -s "$INI" ] && break; sleep 0.1; done
    result=0
    if [ -n "${SECOND:-}" ]; then
      before=$(cksum < "$INI")
      "$@" & second=$!
      close "^dpx20remote\$" Return   # "The folder ... is in use by another dpx20remote ..."
      for _ in $(seq 100); do kill -0 "$second" 2>/dev/null || break; sleep 0.1; done
      kill "$second" 2>/dev/null  # still running: it was not refused, and its status shows it
      wait "$second"; status=$?
      [ "$status" -eq 1 ] && [ "$(cksum < "$INI")" = "$before" ] || result=1
    fi
    close "^ZR-DPX20 Remote\$" Escape
    wait "$panel" && exit "$result"' bash "$@")
}

echo "== panel started in a temporary directory"
INI="$tmp/shell/dpx20remote.ini" run_panel "$tmp/shell" dpx20remote
grep -q "DPX20 Remote Settings" "$tmp/shell/dpx20remote.ini"

echo "== panel started from the menu entry"
exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/dpx20remote.desktop)
data="$tmp/home/.local/share/dpx20remote"  # the launcher's folder when XDG_DATA_HOME is unset
INI="$data/dpx20remote.ini" HOME="$tmp/home" run_panel "$tmp/home" env -u XDG_DATA_HOME $exec_line
grep -q "DPX20 Remote Settings" "$data/dpx20remote.ini"
[ ! -e "$tmp/home/dpx20remote.ini" ]

echo "== a profile of its own, where a second panel is refused"
INI="$data/studio-a/dpx20remote.ini" HOME="$tmp/home" SECOND=1 \
  run_panel "$tmp/home" env -u XDG_DATA_HOME $exec_line --profile studio-a
grep -q "DPX20 Remote Settings" "$data/studio-a/dpx20remote.ini"
if HOME="$tmp/home" $exec_line --profile ../elsewhere 2>/dev/null; then
  echo "the launcher took a profile name with a slash" >&2; exit 1
fi

echo "== menu entry and metadata"
desktop-file-validate /usr/share/applications/dpx20remote.desktop
appstreamcli validate --no-net /usr/share/metainfo/org.dpx20remote.dpx20remote.metainfo.xml
$SUDO appstreamcli refresh-cache --force >/dev/null
# The metadata names no icon: the software centre's database takes it from the menu entry.
appstreamcli get org.dpx20remote.dpx20remote | grep -qx "Icon: dpx20remote"

echo "== remove"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get remove -y dpx20remote
if dpkg-query -W -f='${Status}' dpx20remote 2>/dev/null | grep -q "ok installed"; then exit 1; fi
[ ! -e /usr/bin/dpx20remote ] && [ ! -e /usr/share/applications/dpx20remote.desktop ]
echo "check-package: $deb passed"
