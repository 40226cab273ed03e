#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, and runs every test.
# DPX20_SANITIZE=1 builds and runs the suite under AddressSanitizer + UndefinedBehaviorSanitizer,
# DPX20_SANITIZE=thread under ThreadSanitizer (in build-tsan/).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
. scripts/build-config.sh
build=build
flags=()
if [ "${DPX20_SANITIZE:-0}" = 1 ]; then
  build=build-asan
  flags+=(-DDPX20_SANITIZE=ON)
  export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
elif [ "${DPX20_SANITIZE:-0}" = thread ]; then
  build=build-tsan
  flags+=(-DDPX20_TSAN=ON)
  export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:die_after_fork=0:suppressions=$PWD/tests/tsan.supp"
fi
dpx20_configure "$build" "${flags[@]}"
cmake --build "$build" -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 300
