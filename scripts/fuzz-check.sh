#!/usr/bin/env bash
# The build machine's check of the platform-free cores: builds them with
# clang under AddressSanitizer and UndefinedBehaviorSanitizer (fuzz/), runs
# their unit tests, runs every fuzz target over its seed corpus and then
# fuzzes each one for a short while. Any finding fails the check; the input
# that caused it is saved under BUILD/artifacts/.
#
#   scripts/fuzz-check.sh [BUILD-FOLDER] [SECONDS-PER-TARGET]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/host}"
seconds="${2:-5}"
export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1"

start=$SECONDS
cmake -S "$root/fuzz" -B "$build" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build "$build" -j1 >/dev/null
echo "fuzz-check: built in $((SECONDS - start)) s"

"$build/core_tests" --gtest_brief=1

mkdir -p "$build/artifacts"
for target in $(cat "$build/fuzz-targets.txt"); do
  seeds="$root/fuzz/corpus/$target"
  work="$build/corpus/$target"  # what the fuzzer finds stays out of the repository
  mkdir -p "$work"
  run=("$build/fuzz_$target" -artifact_prefix="$build/artifacts/$target-" -timeout=10 -print_final_stats=1)
  log="$build/$target-seeds.log"
  if ! "${run[@]}" -runs=0 "$seeds" >"$log" 2>&1 ||
     ! { log="$build/$target.log"; "${run[@]}" -max_total_time="$seconds" "$work" "$seeds" >"$log" 2>&1; }; then
    tail -n 60 "$log" >&2
    echo "fuzz-check: $target failed; input saved as $(ls -t "$build/artifacts/$target-"* 2>/dev/null | head -n 1)" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/$target.log")
  cov=$(grep -o 'cov: [0-9]*' "$build/$target.log" | tail -n 1)
  echo "fuzz-check: $target: $(ls "$seeds" | wc -l) seeds, $runs inputs, $cov"
done
echo "fuzz-check: passed in $((SECONDS - start)) s"
