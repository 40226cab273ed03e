#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan, every library they link instrumented for
# coverage) and runs each for SECONDS seconds. A target's corpus is kept in the build folder,
# $build/fuzz/<target>/corpus, and grows from run to run; its seeds in tests/fuzz/corpus/<target>
# are only read, so the repository is never modified. Prints per target the executions and the
# coverage (edges) after loading the seeds and at the end, and how many functions of the
# libraries (sources outside tests/) the corpus reaches. Exits non-zero when a target crashes or
# finds a failing input (kept in $build/fuzz/<target>/crashes), when its coverage at the end is
# no higher than after loading its seeds, or when it reaches no library function: then the
# fuzzer does not see the code it tests.
#   bash scripts/fuzz.sh [SECONDS]      build dir: $DPX20_FUZZ_BUILD (default build-fuzz)
#   DPX20_FUZZ_RUNS=N caps the number of inputs per target as well;
#   DPX20_FUZZ_TARGETS="fuzz_a fuzz_b" runs only those.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
build=${DPX20_FUZZ_BUILD:-$PWD/build-fuzz}
jobs=${DPX20_FUZZ_JOBS:-2}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDPX20_WERROR=ON \
  -DCMAKE_CXX_COMPILER=clang++ -DDPX20_FUZZ=ON >/dev/null
targets=()
if [ -n "${DPX20_FUZZ_TARGETS:-}" ]; then
  read -r -a targets <<<"$DPX20_FUZZ_TARGETS"
else
  for src in tests/fuzz/fuzz_*.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

# The coverage libFuzzer reports on its line `#N <event> cov: EDGES ...` for event INITED (the
# corpus loaded) or DONE (the run ended); empty when there is none.
edges() { sed -n "s/^#[0-9]*[[:space:]]*$1[[:space:]]*cov: \([0-9]*\) .*/\1/p" "$2" | tail -n 1; }

status=0
summary=()
for t in "${targets[@]}"; do
  work="$build/fuzz/$t"
  seeds="$PWD/tests/fuzz/corpus/$t"
  mkdir -p "$work/corpus" "$work/crashes" "$work/no-seeds"
  [ -d "$seeds" ] || seeds="$work/no-seeds"
  bin="$build/tests/fuzz/$t"
  echo "== $t: ${seconds}s"
  # The seeds alone, run once: the coverage the fuzzing has to go beyond.
  "$bin" -runs=0 "$seeds" >"$work/seeds.log" 2>&1 || true
  seed_edges=$(edges INITED "$work/seeds.log")
  # New inputs go to the first folder, the kept corpus; the seeds are read from where they are.
  args=(-max_total_time="$seconds" -max_len=4096 -print_final_stats=1 -print_coverage=1
        -artifact_prefix="$work/crashes/")
  if [ -n "${DPX20_FUZZ_RUNS:-}" ]; then args+=(-runs="$DPX20_FUZZ_RUNS"); fi
  if ! "$bin" "${args[@]}" "$work/corpus" "$seeds" >"$work/log" 2>&1; then
    status=1
    tail -n 60 "$work/log"
    echo "== $t FAILED (inputs kept in $work/crashes)"
    summary+=("$t: FAILED")
    continue
  fi
  start_edges=$(edges INITED "$work/log")
  end_edges=$(edges DONE "$work/log")
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
  kept=$(find "$work/corpus" -type f | wc -l)
  # -print_coverage lists "COVERED_FUNC: hits: N edges: A/B name file:line" for every function reached.
  reached=$(grep -E '^COVERED_FUNC: .* [^ ]+\.cpp:[0-9]+$' "$work/log" | grep -vc '/tests/' || true)
  line="$t: ${execs:-?} executions; edges: seeds ${seed_edges:-?}, kept corpus ${start_edges:-?}, end ${end_edges:-?}; $reached library functions reached; $kept inputs kept"
  if [ -z "$seed_edges" ] || [ -z "$end_edges" ] || [ "$end_edges" -le "$seed_edges" ]; then
    status=1
    line="$line -- FAILED: no coverage beyond the seeds"
  elif [ "$reached" -eq 0 ]; then
    status=1
    line="$line -- FAILED: the libraries are not instrumented"
  fi
  echo "$line"
  summary+=("$line")
done
echo "== summary"
printf '%s\n' "${summary[@]}"
exit $status
