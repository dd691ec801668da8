#!/usr/bin/env bash
# reliability.sh: the failure-path checks of the plug-in.
#   1. the whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer
#      (the out-of-memory sweeps and file faults are part of it: tests/reliability);
#   2. each libFuzzer harness for a bounded time, from the seed corpus in fuzz/corpus.
# Environment: FUZZ_SECONDS (default 60) per harness, RELIABILITY_BUILD (default
# build-reliability) for the build trees, JOBS for parallel test runs.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${RELIABILITY_BUILD:-$root/build-reliability}
seconds=${FUZZ_SECONDS:-60}
jobs=${JOBS:-$(nproc)}
cc=${CC:-clang}
cxx=${CXX:-clang++}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

echo "== sanitizer suite"
start=$(date +%s)
CC=$cc CXX=$cxx cmake -S "$root" -B "$out/sanitize" -G Ninja -DMORAVEL_SANITIZE=ON \
  -DCMAKE_BUILD_TYPE= -DCMAKE_C_FLAGS=-O1 -DCMAKE_CXX_FLAGS=-O1 >/dev/null
cmake --build "$out/sanitize"
ctest --test-dir "$out/sanitize" -j "$jobs" --output-on-failure --timeout 900
echo "sanitizer suite: $(( $(date +%s) - start )) s"
echo "(per-call sweep figures: $out/sanitize/tests/reliability/reliability_tests --gtest_filter='*OomSweep*')"

echo "== fuzzing, $seconds s per harness"
CC=$cc CXX=$cxx cmake -S "$root/fuzz" -B "$out/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
harnesses="fuzz_substitute_byte fuzz_substitute_unicode fuzz_taglist_byte fuzz_taglist_unicode"
# shellcheck disable=SC2086
cmake --build "$out/fuzz" --target $harnesses
for h in $harnesses; do
  kind=${h#fuzz_}
  kind=${kind%_*}
  work="$out/fuzz/corpus-$h"
  mkdir -p "$work"
  log="$out/fuzz/$h.log"
  if ! (cd "$out/fuzz" && "./$h" -max_total_time="$seconds" -max_len=8192 -timeout=20 -rss_limit_mb=4096 \
        -print_final_stats=1 "$work" "$root/fuzz/corpus/$kind" >"$log" 2>&1); then
    tail -n 60 "$log"
    echo "$h: FAILED (crash input saved in $out/fuzz)"
    exit 1
  fi
  runs=$(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n1 | grep -o '[0-9]*' || echo "?")
  echo "$h: $runs executions in $seconds s, coverage $cov, no failure"
done
echo "reliability checks passed"
