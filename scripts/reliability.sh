#!/usr/bin/env bash
# reliability.sh: the failure-path checks of the plug-in.
#   1. the whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer
#      (the out-of-memory sweeps and file faults are part of it: tests/reliability),
#      natively and as 32-bit x86 programs (clang's i386 runtimes);
#   2. each libFuzzer harness (the plug-in's and the tool's readers') for a
#      bounded time, from the seed corpus in fuzz/corpus.
# Environment: FUZZ_SECONDS (default 60) per harness; FUZZ_LONG=1 for the long
# run instead: each harness 1,000,000 runs or 1800 s, whichever comes first
# (FUZZ_RUNS and FUZZ_SECONDS change those); FUZZ_HARNESSES to run only some
# (names as listed below); FUZZ_ONLY=1 to skip the sanitizer suites;
# RELIABILITY_BUILD (default build-reliability) for the build trees, JOBS for
# parallel test runs. Each harness prints its runs, time, runs a second and
# coverage (libFuzzer's cov: edges, ft: features).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${RELIABILITY_BUILD:-$root/build-reliability}
long=${FUZZ_LONG:-0}
if [[ $long == 1 ]]; then
  seconds=${FUZZ_SECONDS:-1800}
  runs=${FUZZ_RUNS:-1000000}
else
  seconds=${FUZZ_SECONDS:-60}
  runs=${FUZZ_RUNS:--1}
fi
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

if [[ ${FUZZ_ONLY:-0} != 1 ]]; then
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
fi

if [[ $long == 1 ]]; then
  echo "== fuzzing, each harness $runs runs or $seconds s, whichever comes first"
else
  echo "== fuzzing, $seconds s per harness"
fi
CC=$cc CXX=$cxx cmake -S "$root/fuzz" -B "$out/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMORAVEL_WERROR=ON >/dev/null
# A run of an engine harness frees some 6 MB of work buffers; a quarantine of
# 64 MB still holds the blocks of the last ten runs for use-after-free
# checks, and recycling the default 256 MB cost them a sixth of their speed.
if [[ $ASAN_OPTIONS != *quarantine_size_mb* ]]; then
  export ASAN_OPTIONS=$ASAN_OPTIONS:quarantine_size_mb=64
fi
all="fuzz_substitute_byte fuzz_substitute_unicode fuzz_taglist_byte fuzz_taglist_unicode
  fuzz_csv fuzz_jsonl fuzz_datafile fuzz_pattern"
harnesses=$(echo ${FUZZ_HARNESSES:-$all})
# shellcheck disable=SC2086
cmake --build "$out/fuzz" --target $harnesses
printf '%-24s %10s %8s %8s %8s %8s\n' harness runs seconds "runs/s" cov ft
for h in $harnesses; do
  kind=${h#fuzz_}
  kind=${kind%_*}
  work="$out/fuzz/corpus-$h"
  mkdir -p "$work"
  log="$out/fuzz/$h.log"
  start=$(date +%s.%N)
  if ! (cd "$out/fuzz" && "./$h" -max_total_time="$seconds" -runs="$runs" -max_len=8192 -timeout=20 \
        -rss_limit_mb=4096 -print_final_stats=1 "$work" "$root/fuzz/corpus/$kind" >"$log" 2>&1); then
    tail -n 60 "$log"
    echo "$h: FAILED (crash input saved in $out/fuzz)"
    exit 1
  fi
  elapsed=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
  done=$(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n1 | grep -o '[0-9]*' || echo "?")
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n1 | grep -o '[0-9]*' || echo "?")
  printf '%-24s %10s %8.0f %8.0f %8s %8s\n' "$h" "$done" "$elapsed" "$(awk -v n="$done" -v t="$elapsed" 'BEGIN { print n / t }')" "$cov" "$ft"
done
echo "reliability checks passed"
