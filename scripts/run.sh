#!/usr/bin/env bash
# Installs what is missing, builds, and starts the panel against the box simulator.
#   scripts/run.sh [dpx20sim options]       e.g. scripts/run.sh --wire
# dpx20sim serves a pseudo-terminal linked at run/COM1; the panel runs in run/ with
# DPX20_COM1 pointing there, so its options and memory files are written in run/. The
# simulator's frame log is run/dpx20sim.log and its box state run/dpx20sim.state. The
# simulator stops when the panel exits. DPX20_RUN_BUILD names another build directory.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/install-deps.sh

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display (DISPLAY and WAYLAND_DISPLAY are empty)." >&2
  echo "Run the panel on a virtual X display instead:  xvfb-run -a scripts/run.sh" >&2
  exit 1
fi

build=${DPX20_RUN_BUILD:-build}  # build directory, relative to the repository
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target dpx20remote dpx20sim

run="$root/run"
mkdir -p "$run"
com1="$run/COM1"
"$root/$build/dpx20sim" --link "$com1" --log "$run/dpx20sim.log" --state "$run/dpx20sim.state" "$@" \
  >"$run/dpx20sim.out" &
sim=$!
stop_sim() {
  if kill -0 "$sim" 2>/dev/null; then
    kill -TERM "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
  fi
}
trap stop_sim EXIT

# The simulator makes the link once its pseudo-terminal is ready.
for _ in $(seq 50); do
  [ -e "$com1" ] && break
  if ! kill -0 "$sim" 2>/dev/null; then
    echo "run.sh: dpx20sim did not start" >&2
    exit 1
  fi
  sleep 0.1
done
[ -e "$com1" ] || { echo "run.sh: dpx20sim made no $com1" >&2; exit 1; }
echo "run.sh: box simulator on $(cat "$run/dpx20sim.out" 2>/dev/null | head -n 1) (COM1 = $com1)"

cd "$run"
status=0
DPX20_COM1="$com1" "$root/$build/dpx20remote" || status=$?
exit $status
