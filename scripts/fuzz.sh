#!/usr/bin/env bash
# Fuzzes one target of fuzz/ for longer than the test run does, e.g.
#
#   scripts/fuzz.sh td32 600
#
# New inputs that reach new code collect in build/host/corpus/TARGET (copy
# the interesting ones into fuzz/corpus/TARGET); a finding stops the run and
# is saved under build/host/artifacts/. Without arguments, lists the targets.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/host"
cmake -S "$root/fuzz" -B "$build" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
if [ $# -lt 1 ]; then
  echo "usage: scripts/fuzz.sh TARGET [SECONDS]; targets: $(tr '\n' ' ' <"$build/fuzz-targets.txt")" >&2
  exit 2
fi
target="$1"
seconds="${2:-300}"
grep -qx "$target" "$build/fuzz-targets.txt" || {
  echo "fuzz.sh: no target '$target'; targets: $(tr '\n' ' ' <"$build/fuzz-targets.txt")" >&2
  exit 2
}
cmake --build "$build" -j1 --target "fuzz_$target" >/dev/null
mkdir -p "$build/corpus/$target" "$build/artifacts"
export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1"
exec "$build/fuzz_$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$build/artifacts/$target-" "$build/corpus/$target" "$root/fuzz/corpus/$target"
