#!/usr/bin/env bash
# Runs a test program under Wine for ctest: scripts/test-windows.sh gives this as the build's
# CMAKE_CROSSCOMPILING_EMULATOR.
#
# Why: the program that finds no wineserver running starts one, and with it Wine's background
# processes (services.exe, winedevice.exe, explorer.exe, plugplay.exe, svchost.exe, rpcss.exe),
# which inherit its standard output. ctest reads a test's output until the pipe closes, so it
# waits for those processes after the test has printed PASSED and ended; they end only with the
# wineserver, a few seconds after the last Wine program, which the next tests keep from
# happening: the finished test times out. This happened whenever the wineserver had stopped in a
# pause of the run, and happens when explorer.exe (Wine's desktop, which ends a while after the
# last program that used it) is started again by a test that makes windows.
#
# test-windows.sh keeps one wineserver with its background processes for the whole run, so
# tests rarely start any. Besides, the program writes to a file that is passed on to ctest while
# it runs and until it ends, so ctest never waits for anything else; a process still holding
# that file when the program has ended is named on standard error. DPX20_WINE_RUN_LOG, if set,
# gets one line per run (a test run twice after a time-out shows twice).
set -uo pipefail
out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
trap 'rm -f "$out"' EXIT
[ -n "${DPX20_WINE_RUN_LOG:-}" ] && echo "$*" >> "$DPX20_WINE_RUN_LOG"
wine "$@" >"$out" 2>&1 </dev/null &
pid=$!
tail -s 0.1 -n +1 -f --pid=$pid "$out"
wait $pid
status=$?
holders=$(find /proc/[0-9]*/fd -lname "$out" 2>/dev/null | cut -d/ -f3 | sort -u |
          while read -r p; do cat "/proc/$p/comm" 2>/dev/null; done | sort -u | tr '\n' ' ')
if [ -n "$holders" ]; then
  echo "wine-run: $(basename "$1") ended (status $status); its output is still held by" \
       "$holders(Wine's background processes that this test started, with its output)" >&2
fi
exit $status
