#!/usr/bin/env bash
# merge_jobs.sh: the parallel merge's ratios in one command: release builds of this tree and of the tool before
# --jobs (MORAVEL_BENCH_BEFORE, a commit; default the one before it), then bench/merge_jobs.py. Arguments go to it
# (--runs, --records, --small); MORAVEL_BENCH_SEED fixes the seed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${MORAVEL_BENCH_BUILD_DIR:-$root/build-release}"
before_rev="${MORAVEL_BENCH_BEFORE:-552c9e6}"
before_src="$build-before-src"
before_build="$build-before"

release() {
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORAVEL_BUILD_TESTS=OFF >/dev/null
  cmake --build "$2" --target moravel Moravel MoravelU >/dev/null
}
release "$root" "$build"
if [ ! -x "$before_build/tools/moravel" ] || [ "$(cat "$before_build/.rev" 2>/dev/null)" != "$before_rev" ]; then
  rm -rf "$before_src" && mkdir -p "$before_src"
  git -C "$root" archive "$before_rev" | tar -x -C "$before_src"
  release "$before_src" "$before_build"
  echo "$before_rev" >"$before_build/.rev"
fi
seed="${MORAVEL_BENCH_SEED:-$((RANDOM * 32768 + RANDOM))}"
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
/usr/bin/python3 "$root/bench/merge_jobs.py" --tool "$build/tools/moravel" --before "$before_build/tools/moravel" \
  --seed "$seed" "$@"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
