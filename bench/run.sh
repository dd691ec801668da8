#!/usr/bin/env bash
# The whole benchmark in one command: builds the shipped plug-in libraries,
# the moravel tool and the benchmark in release mode, then prints one table
# of every workload (W1-W6), the memcpy bound, the host alone and the peer
# engines, in two passes (the heap as it comes, then kept), followed by
# `moravel expand` end to end on generated pages of 1, 10 and 100 MB in both
# builds beside a Python re.sub one-liner, and the mail merge (`--each`) of a
# letter over 10,000 and 100,000 records beside a Python loop (records:
# MORAVEL_BENCH_RECORDS). Names and values are random from
# the seed MORAVEL_BENCH_SEED (a random one when unset; the tables name it).
# Extra arguments go to the benchmark (for instance --benchmark_filter=W2);
# MORAVEL_BENCH_SIZES (default 1,10,100) sets the end-to-end page sizes in MB.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${MORAVEL_BENCH_BUILD_DIR:-$root/build-release}"

# On a fresh machine: the build's own packages, the peer engines, Python and
# GNU time (the peak memory of the end-to-end runs).
bash "$root/scripts/setup.sh" bench

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DMORAVEL_BUILD_BENCH=ON -DMORAVEL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target moravel_bench moravel_bench_page moravel >/dev/null

seed="${MORAVEL_BENCH_SEED:-$((RANDOM * 32768 + RANDOM))}"
export MORAVEL_BENCH_SEED="$seed"
log="$build/bench-progress.log"
out="$build/bench-output.txt"
echo "running, seed $seed (progress in $log) ..." >&2
{
  echo "Machine: $(nproc) CPUs, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1);" \
    "$(free -g | awk '/^Mem:/ {print $2}') GiB RAM; load average at the start: $(cut -d' ' -f1-3 /proc/loadavg);" \
    "$(date -u '+%Y-%m-%d %H:%M UTC')"
} >"$out"
# Two passes, each a process of its own: the allocator as it comes, then the
# benchmark process keeping its large blocks in the heap.
"$build/bench/moravel_bench" "$@" 2>"$log" >>"$out"
MORAVEL_BENCH_HEAP=keep "$build/bench/moravel_bench" "$@" 2>>"$log" >>"$out"
/usr/bin/python3 "$root/bench/end_to_end.py" --tool "$build/tools/moravel" \
  --page-maker "$build/bench/moravel_bench_page" --python /usr/bin/python3 --seed "$seed" \
  --sizes "${MORAVEL_BENCH_SIZES:-1,10,100}" 2>>"$log" >>"$out"
/usr/bin/python3 "$root/bench/merge.py" --tool "$build/tools/moravel" --python /usr/bin/python3 --seed "$seed" \
  --counts "${MORAVEL_BENCH_RECORDS:-10000,100000}" 2>>"$log" >>"$out"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)" >>"$out"
sed -n '1p; /^Heap /,/^peak\/txt/p; /^moravel expand end to end/,$p' "$out"
