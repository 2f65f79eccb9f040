#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) into build-fuzz and runs each one.
# Usage: scripts/fuzz.sh [seconds per target, default 30] [target name...]
# A crash, leak or time-out fails the run; libFuzzer leaves the input that
# caused it as crash-*/leak-*/timeout-* in build-fuzz/findings/<target>/:
# copy it into fuzz/corpus/<target>/ as a regression case once fixed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
shift || true
build="$root/build-fuzz"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja \
  -DKEST_FUZZ=ON -DKEST_SANITIZE="fuzzer-no-link;address;undefined" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target kest_fuzz_targets

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for src in "$root"/fuzz/*_fuzz.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi

export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
for t in "${targets[@]}"; do
  # -max_len from fuzz/<target>.options ("max_len = N"), sized per format.
  max_len=$(sed -n 's/^max_len *= *\([0-9]*\).*/\1/p' "$root/fuzz/$t.options")
  findings="$build/findings/$t"
  work="$build/corpus/$t"  # what the run adds; the seeds in the repository stay as they are
  mkdir -p "$findings" "$work"
  echo "== fuzz $t for ${seconds}s (max_len $max_len)"
  "$build/fuzz/$t" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len="$max_len" \
    -timeout=10 -print_final_stats=1 -artifact_prefix="$findings/" \
    "$work" "$root/fuzz/corpus/$t"
done
echo "fuzzing passed"
