#!/usr/bin/env bash
# Builds the whole program for 64-bit Windows (MinGW-w64 and Qt for Windows, see
# scripts/build-qt-windows.sh) and runs its unit and UI tests under Wine with Qt's offscreen
# platform, then the end-to-end run of the real panel under Wine (tests/windows/e2e.sh) and of
# dpx20ctl serve over HTTPS and as a Windows service (tests/windows/serve.sh).
# JOBS=n limits the parallel jobs (default: all cores).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-windows
jobs=${JOBS:-$(nproc)}

bash scripts/install-deps.sh windows
source scripts/windows-env.sh

# Tests are listed when ctest runs, under Wine, not at build time.
windows_configure "$build/all" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDPX20_WERROR=ON \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$root/tests/windows/wine-run.sh" \
  -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST
cmake --build "$build/all" -j "$jobs"

new_wine_prefix "$build/wine" offscreen
export WINEPATH
WINEPATH=$(windows_dll_path)
# One wineserver for the whole run, and Wine's background processes started now, by a program
# whose output goes nowhere: a test that started them would have its output held by them, and
# ctest would wait for them after the test had ended (tests/windows/wine-run.sh).
wineserver -p
wine cmd /c exit </dev/null >/dev/null 2>&1
status=0
# A test that does not end in time is run once more, as a last resort; the runs are counted.
export DPX20_WINE_RUN_LOG=$build/all/wine-runs.log
rm -f "$DPX20_WINE_RUN_LOG"
ctest --test-dir "$build/all" --output-on-failure -j "$jobs" --timeout 90 --repeat after-timeout:2 || status=$?
# ctest names the skipped tests; their reasons are in the log, on the line before the mark.
echo "Skipped tests and why:"
awk '/^\[  SKIPPED \] [^ ]+ \(/ { print "  " $4 ": " previous } { previous = $0 }' \
  "$build/all/Testing/Temporary/LastTest.log"
again=$(grep -v -- '--gtest_list_tests' "$DPX20_WINE_RUN_LOG" | sort | uniq -d)
echo "Tests run again after a time-out: $(echo -n "$again" | grep -c '^' || true)"
[ -z "$again" ] || echo "$again" | sed 's/^/  /'
held=$(grep -c '^wine-run: .* is still held by' "$build/all/Testing/Temporary/LastTest.log" || true)
echo "Test outputs held by Wine's background processes: $held"
wineserver -k || true
[ $status = 0 ] || exit $status

bash tests/windows/e2e.sh "$build/all"

# dpx20ctl serve as installed: HTTPS/WSS with PEM and PKCS#12 keys (Chromium on the Linux side)
# and the Windows service under Wine's Service Control Manager (tests/windows/serve.sh).
bash tests/windows/serve.sh "$build/all"
