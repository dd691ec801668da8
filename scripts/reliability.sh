#!/usr/bin/env bash
# reliability.sh: the failure-path checks of the plug-in.
#   1. the whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer
#      (the out-of-memory sweeps and file faults are part of it: tests/reliability),
#      natively and as 32-bit x86 programs (clang's i386 runtimes);
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

# sanitizer_suite NAME FLAGS [CMAKE_ARGUMENTS...]: the whole suite built with
# the sanitizers and the compiler flags FLAGS in $out/NAME, and run. The
# 64-bit one is the CMake preset "sanitize".
sanitizer_suite() {
  local name=$1 flags=$2 start
  shift 2
  start=$(date +%s)
  CC=$cc CXX=$cxx cmake -S "$root" -B "$out/$name" -G Ninja -DMORAVEL_SANITIZE=ON -DMORAVEL_WERROR=ON \
    -DCMAKE_BUILD_TYPE= -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" "$@" >/dev/null
  cmake --build "$out/$name"
  ctest --test-dir "$out/$name" -j "$jobs" --output-on-failure --timeout 900
  echo "$name suite: $(( $(date +%s) - start )) s"
}

echo "== sanitizer suite"
sanitizer_suite sanitize -O1
echo "(per-call sweep figures: $out/sanitize/tests/reliability/reliability_tests --gtest_filter='*OomSweep*')"

echo "== sanitizer suite, 32-bit x86 Linux"
status=0
bash "$root/scripts/probe32.sh" linux "$out/sanitize32" "the 32-bit sanitizer suite" || status=$?
if ((status == 0)); then
  sanitizer_suite sanitize32 "-m32 -O1" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/linux-i686.cmake"
elif ((status != 1)); then
  exit "$status"
fi

echo "== fuzzing, $seconds s per harness"
CC=$cc CXX=$cxx cmake -S "$root/fuzz" -B "$out/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMORAVEL_WERROR=ON >/dev/null
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
