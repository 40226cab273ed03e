#!/usr/bin/env bash
# End-to-end run of the real panel for Windows under Wine, on a virtual display with Qt's
# `windows` platform, against dpx20sim behind ser2net:
#  - CONNECT with synchronisation over socket:// and rfc2217:// sends the simulator the same
#    frames, in the same order, as many times each, as the Linux panel sends for the same
#    options file (tests/windows/compare_frames.py);
#  - the panel's control API takes a setting from curl;
#  - the system-menu item opens the version box;
#  - COM1 mapped through Wine's dosdevices to a missing device and to a pseudo-terminal gives
#    its cause under "Show Details...";
#  - screenshots of the panel and of a notice under Wine go to DPX20_SCREENSHOT_DIR (docs/ to
#    renew the README's; default build-windows/).
# $1: the Windows build folder (scripts/test-windows.sh); the Linux build is build/.
set -euo pipefail
windows_build=$(cd "$1" && pwd)
cd "$(dirname "$0")/../.."
root=$PWD
[ -n "${DISPLAY:-}" ] || exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
source scripts/windows-env.sh

# The Linux panel and simulator, for the reference run.
linux=$root/build
[ -f "$linux/build.ninja" ] || cmake -S . -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDPX20_WERROR=ON
cmake --build "$linux" --target dpx20remote dpx20sim >/dev/null

tmp=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wineserver -k 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
new_wine_prefix "$root/build-windows/wine-e2e"
export WINEPATH
WINEPATH=$(windows_dll_path)

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Starts dpx20sim logging to $tmp/$1.log and ser2net in front of it ($2: tcp or rfc2217);
# sets `port`.
serve() {
  local name=$1 accepter="tcp(nodelay)"
  [ "$2" = rfc2217 ] && accepter="telnet(rfc2217),tcp(nodelay)"
  "$linux/dpx20sim" --link "$tmp/$name.tty" --log "$tmp/$name.log" >/dev/null &
  pids+=($!)
  for _ in $(seq 100); do [ -e "$tmp/$name.tty" ] && break; sleep 0.1; done
  port=$(free_port)
  printf '%s\n' "connection: &box" "  accepter: $accepter,127.0.0.1,$port" \
    "  connector: serialdev,$tmp/$name.tty,9600o81,local" "  options:" "    chardelay: false" \
    > "$tmp/$name.yaml"  # as the README has it
  ser2net -n -d -c "$tmp/$name.yaml" -P "$tmp/$name.pid" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    grep -q "$(printf ':%04X 00000000:0000 0A' "$port")" /proc/net/tcp && break
    sleep 0.1
  done
}

# The first visible window titled $1 (an anchored pattern), waited for. A search can fail while
# Wine makes or destroys windows, so it is tried again.
window() {
  local w
  for _ in $(seq 450); do
    w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.2
  done
  echo "e2e: no window titled $1" >&2
  return 1
}
# Focuses the window titled $1 and presses the keys that follow.
keys() { local w; w=$(window "$1"); shift; xdotool windowfocus --sync "$w" key --delay 100 "$@"; }
notice='^dpx20remote$'
panel='^ZR-DPX20 Remote$'

# Starts the panel command (the rest of the arguments) in a new folder $1 and answers the
# notice about the missing options file.
start_panel() {
  local dir=$1; shift
  mkdir -p "$dir"
  (cd "$dir" && exec "$@" </dev/null >/dev/null 2>&1) &
  pids+=($!)
  keys "$notice" Return  # "Do not found option file! ... Create new file."
}
# Checks CONNECT, the panel's first control, and waits for the notice that follows.
connect() { keys "$panel" space; window "$notice" >/dev/null; }
# Closes the panel with Esc and waits for it to end; Esc again every 5 s while its window is
# still there (a loaded Wine may not yet have given it the focus back).
close_panel() {
  local w
  for i in $(seq 0 59); do
    kill -0 "${pids[-1]}" 2>/dev/null || return 0
    w=$(xdotool search --onlyvisible --name "$panel" 2>/dev/null | head -n 1 || true)
    if [ -n "$w" ] && [ $((i % 10)) = 0 ]; then
      xdotool windowfocus --sync "$w" key Escape 2>/dev/null || true
    fi
    sleep 0.5
  done
  echo "e2e: the panel does not close" >&2
  return 1
}
# Presses Return on the notice, then closes the panel.
finish() {
  keys "$notice" Return
  close_panel
}
# Compares the frames of the simulator logs $1 (the Linux panel's) and $2 one for one; a frame
# sent again is the link's resend only where the log shows the first reply late (Wine under
# load can delay a reply past the link's limit for the first reply byte, read from the link).
reply_limit_ms=$(sed -n 's/^constexpr uint32_t kFirstByteLimitMs = \([0-9]*\);.*/\1/p' link/SerialChannel.cpp)
[ -n "$reply_limit_ms" ] || { echo "e2e: no kFirstByteLimitMs in link/SerialChannel.cpp" >&2; exit 1; }
same_frames() { python3 tests/windows/compare_frames.py "$reply_limit_ms" "$1" "$2"; }
# The open notice as Windows copies it with Ctrl+C: title, text, buttons and, after "Show
# Details...", the details.
notice_text() {
  keys "$notice" ctrl+c
  sleep 0.5
  xclip -o -selection clipboard | tr -d '\r'
}
windows_panel=(wine "$windows_build/dpx20remote.exe")
shots=${DPX20_SCREENSHOT_DIR:-$root/build-windows}
# A screenshot of the screen where the panel is, with whatever is open on top of it.
panel_shot() {
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$(window "$panel")")"
  import -window root -crop "${WIDTH}x${HEIGHT}+$X+$Y" +repage "$1"
}

echo "== the Linux panel: CONNECT with synchronisation"
serve linux tcp
start_panel "$tmp/linux" env DPX20_COM1="$tmp/linux.tty" "$linux/dpx20remote"
connect
finish
cp "$tmp/linux.log" "$tmp/linux.sync.log"

for mode in tcp rfc2217; do
  scheme=socket; [ $mode = rfc2217 ] && scheme=rfc2217
  echo "== the Windows panel under Wine: CONNECT with synchronisation over $scheme://"
  serve "win-$mode" $mode
  # A folder named outside ASCII: the options file must be read and written there.
  dir="$tmp/win-$mode-r$(printf '\u00e9')glages-$(printf '\u8a2d\u5b9a')"
  api=$(free_port)
  start_panel "$dir" env DPX20_COM1="$scheme://127.0.0.1:$port" "${windows_panel[@]}" --api "127.0.0.1:$api"
  [ $mode = tcp ] && panel_shot "$shots/windows-panel.png"
  connect
  notice_text | grep -q "Update ZR-DPX20 all settings : Compleate!"
  [ $mode = tcp ] && panel_shot "$shots/windows-notice.png"
  keys "$notice" Return
  cp "$tmp/win-$mode.log" "$tmp/win-$mode.sync.log"
  # The panel's control API under Windows: a setting put with curl is accepted by the box. The
  # notice may take a moment to be gone; until then the answer is "busy".
  for _ in $(seq 20); do
    answer=$(curl -s -X PUT "http://127.0.0.1:$api/api/v1/settings" -d '{"sys_beep": 1}' || true)
    case $answer in *busy*|"") sleep 0.5 ;; *) break ;; esac
  done
  echo "$answer" | grep -q '"ok":true' || { echo "e2e: the control API answered: $answer" >&2; exit 1; }
  echo "the control API set sys_beep: $(echo "$answer" | grep -o '"result":[0-9]*,"meaning":"[^"]*"')"
  close_panel
  if ! same_frames "$tmp/linux.sync.log" "$tmp/win-$mode.sync.log"; then
    echo "e2e: the Windows panel over $scheme:// sent other frames than the Linux panel" >&2
    cat "$tmp/win-$mode.sync.log" >&2
    exit 1
  fi
  grep -q "DPX20 Remote Settings" "$dir/dpx20remote.ini"
done

echo "== the system-menu item opens the version box"
version_box='^ZR-DPX20 Remote : Version Infomation$'
start_panel "$tmp/menu" "${windows_panel[@]}"
# The item is the menu's last; Wine's own "About Wine" shares its letter A.
keys "$panel" alt+space
sleep 2  # the menu opens
xdotool key End Return
keys "$version_box" Return
close_panel

# COM ports as Windows programs see them: Wine's dosdevices/comN leading to a device. COM12
# is opened under its long name \\.\COM12, which numbers above 9 need.
for case in "COM1 missing" "COM1 pty" "COM12 pty"; do
  read -r com kind <<< "$case"
  echo "== $com through Wine's dosdevices to a $kind device"
  if [ "$kind" = missing ]; then
    device=$tmp/no-such-device
    # Windows says the device is not found; Wine, for a link that leads nowhere, "Invalid
    # function." (ERROR_INVALID_FUNCTION), which the panel passes on as the system's words.
    cause="(no such device|Invalid function\.)"
  else
    # Opened; Wine cannot set odd parity on a pseudo-terminal.
    device=$(readlink -f "$tmp/linux.tty")
    cause="cannot apply 9600 8O1"
  fi
  ln -sfn "$device" "$WINEPREFIX/dosdevices/${com,,}"
  start_panel "$tmp/$com-$kind" env DPX20_COM1="$com" "${windows_panel[@]}"
  connect
  text=$(notice_text)
  echo "$text" | sed 's/^/  /'
  echo "$text" | grep -qE "^$com: $cause" || { echo "e2e: $com to a $kind device: no cause $cause" >&2; exit 1; }
  finish
done
echo "e2e-windows: passed"
