#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each for SECONDS seconds on a
# scratch copy of its seed corpus, so the repository is never modified. Exits non-zero when a
# target crashes or finds a failing input.
#   bash scripts/fuzz.sh [SECONDS]      build dir: $DPX20_FUZZ_BUILD (default build-fuzz)
#   DPX20_FUZZ_RUNS=N caps the number of inputs per target as well.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
build=${DPX20_FUZZ_BUILD:-$PWD/build-fuzz}
jobs=${DPX20_FUZZ_JOBS:-2}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DDPX20_FUZZ=ON >/dev/null
targets=()
for src in tests/fuzz/fuzz_*.cpp; do targets+=("$(basename "$src" .cpp)"); done
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/dpx20-fuzz-run.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
status=0
for t in "${targets[@]}"; do
  corpus="$scratch/$t/corpus"
  mkdir -p "$corpus" "$scratch/$t/artifacts"
  if [ -d "tests/fuzz/corpus/$t" ]; then cp -R "tests/fuzz/corpus/$t/." "$corpus/"; fi
  args=(-max_total_time="$seconds" -max_len=4096 -print_final_stats=1
        -artifact_prefix="$scratch/$t/artifacts/")
  if [ -n "${DPX20_FUZZ_RUNS:-}" ]; then args+=(-runs="$DPX20_FUZZ_RUNS"); fi
  echo "== $t: ${seconds}s"
  if ! "$build/tests/fuzz/$t" "${args[@]}" "$corpus" >"$scratch/$t/log" 2>&1; then
    status=1
    tail -n 60 "$scratch/$t/log"
    # Keep the crashing inputs where they can be looked at after the scratch dir is gone.
    mkdir -p "$build/crashes/$t"
    cp -R "$scratch/$t/artifacts/." "$build/crashes/$t/" 2>/dev/null || true
    echo "== $t FAILED (inputs kept in $build/crashes/$t)"
  else
    grep -E '^stat::number_of_executed_units|^Done ' "$scratch/$t/log" || true
  fi
done
exit $status
