#!/usr/bin/env bash
# Builds the shipped plug-in libraries and the benchmark in release mode,
# runs every workload, the memcpy bound and the peer engines in one run, and
# prints one table. Extra arguments go to the benchmark (for instance
# --benchmark_filter=W2).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${MORAVEL_BENCH_BUILD_DIR:-$root/build-release}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DMORAVEL_BUILD_BENCH=ON -DMORAVEL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target moravel_bench >/dev/null
log="$build/bench-progress.log"
echo "running (progress in $log) ..." >&2
"$build/bench/moravel_bench" "$@" 2>"$log" | tee "$build/bench-output.txt" | sed -n '/^workload /,$p'
