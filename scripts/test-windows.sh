#!/usr/bin/env bash
# Builds the Qt-free core and its unit tests for Windows with MinGW-w64 and runs them under
# Wine. GoogleTest is built from Debian's sources with the same compiler. JOBS=n limits the
# parallel jobs (default: all cores).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-windows
jobs=${JOBS:-$(nproc)}

missing=()
for p in g++-mingw-w64-x86-64 googletest cmake ninja-build; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
command -v wine >/dev/null || missing+=(wine wine64)
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

toolchain=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake")
if [ ! -f "$build/googletest/lib/libgtest.a" ]; then
  cmake -S /usr/src/googletest -B "$build/googletest-build" "${toolchain[@]}" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$build/googletest"
  cmake --build "$build/googletest-build" -j "$jobs"
  cmake --install "$build/googletest-build" >/dev/null
fi

# Tests are listed when ctest runs, under Wine, not at build time.
cmake -S . -B "$build/core" "${toolchain[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDPX20_WERROR=ON -DDPX20_CORE_ONLY=ON -DCMAKE_PREFIX_PATH="$build/googletest" \
  -DCMAKE_CROSSCOMPILING_EMULATOR=wine -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST
cmake --build "$build/core" -j "$jobs"

# Wine started once beforehand, its output discarded: its background services would
# otherwise inherit ctest's pipes and keep the first test from ending.
export WINEPREFIX=$build/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot --init >/dev/null 2>&1 </dev/null
status=0
ctest --test-dir "$build/core" --output-on-failure -j "$jobs" --timeout 300 || status=$?
# ctest names the skipped tests; their reasons are in the log, on the line before the mark.
echo "Skipped tests and why:"
awk '/^\[  SKIPPED \] [^ ]+ \(/ { print "  " $4 ": " previous } { previous = $0 }' \
  "$build/core/Testing/Temporary/LastTest.log"
wineserver -k || true
exit $status
