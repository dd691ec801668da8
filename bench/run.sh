#!/usr/bin/env bash
# Builds the shipped plug-in libraries and the benchmark in release mode,
# runs every workload, the memcpy bound and the peer engines in one run, and
# prints one table. Extra arguments go to the benchmark (for instance
# --benchmark_filter=W2).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${MORAVEL_BENCH_BUILD_DIR:-$root/build-release}"

# On a fresh machine: the build's own packages, then the peer engines.
bash "$root/scripts/setup.sh"
bench_packages=(libctemplate-dev libkainjow-mustache-dev pkg-config)
missing=()
for p in "${bench_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "bench: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DMORAVEL_BUILD_BENCH=ON -DMORAVEL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target moravel_bench >/dev/null
log="$build/bench-progress.log"
out="$build/bench-output.txt"
echo "running (progress in $log) ..." >&2
# Two passes, each a process of its own: the allocator as it comes, then the
# benchmark process keeping its large blocks in the heap.
"$build/bench/moravel_bench" "$@" 2>"$log" >"$out"
MORAVEL_BENCH_HEAP=keep "$build/bench/moravel_bench" "$@" 2>>"$log" >>"$out"
sed -n '/^Heap /,/^peak\/txt/p' "$out"
