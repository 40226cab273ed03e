#!/usr/bin/env bash
# Installs what is missing, builds, and starts the panel against the box simulator.
#   scripts/run.sh [dpx20sim options]       e.g. scripts/run.sh --wire
# dpx20sim serves a pseudo-terminal linked at run/box; the panel runs in run/ with DPX20_COM1
# to DPX20_COM8 all pointing there, so the box answers on whichever COM number the options
# file run/dpx20remote.ini names, and the options and memory files are written in run/.
# The simulator's frame log run/dpx20sim.log is kept across runs (each run appends, after a
# start line); its box state is run/dpx20sim.state. The simulator stops when the panel
# exits. The panel serves its control API when DPX20_API names where it listens:
#   DPX20_API=127.0.0.1:8420 scripts/run.sh
# build/ is configured as scripts/test.sh configures it (scripts/build-config.sh), so either
# script after the other rebuilds only what changed. DPX20_RUN_BUILD names another build
# directory.
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
. scripts/build-config.sh
dpx20_configure "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target dpx20remote dpx20sim

run="$root/run"
mkdir -p "$run"
box="$run/box"
# The simulator writes its frame log to standard error when given no --log file; appending
# that keeps the log of earlier runs.
echo "# dpx20sim started $(date '+%Y-%m-%d %H:%M:%S') $*" >>"$run/dpx20sim.log"
"$root/$build/dpx20sim" --link "$box" --state "$run/dpx20sim.state" "$@" \
  >"$run/dpx20sim.out" 2>>"$run/dpx20sim.log" &
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
  [ -e "$box" ] && break
  if ! kill -0 "$sim" 2>/dev/null; then
    echo "run.sh: dpx20sim did not start (see $run/dpx20sim.log)" >&2
    exit 1
  fi
  sleep 0.1
done
[ -e "$box" ] || { echo "run.sh: dpx20sim made no $box" >&2; exit 1; }
echo "run.sh: box simulator on $(head -n 1 "$run/dpx20sim.out" 2>/dev/null) (COM1 to COM8 = $box)"
for n in 1 2 3 4 5 6 7 8; do export "DPX20_COM$n=$box"; done

panel_args=()
if [ -n "${DPX20_API:-}" ]; then
  panel_args+=(--api "$DPX20_API")
  echo "run.sh: the panel serves its control API on $DPX20_API"
fi

cd "$run"
status=0
"$root/$build/dpx20remote" "${panel_args[@]}" || status=$?
exit $status
