#!/usr/bin/env bash
# Builds the plug-in, the test host, the tool and the whole test suite as
# 32-bit x86 Linux programs (-m32, warnings as errors) and runs the suite
# natively; the reliability suites (allocation sweeps, file faults) are part
# of it. The same suite under the sanitizers is in scripts/reliability.sh.
# On a machine that cannot run 32-bit programs it is skipped with one line.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
out=${MORAVEL_LINUX32_BUILD:-build-linux32}

status=0
bash scripts/probe32.sh linux "$out" "the 32-bit Linux suite" || status=$?
if ((status == 1)); then exit 0; fi
if ((status)); then exit "$status"; fi

cmake -S . -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i686.cmake \
  -DCMAKE_BUILD_TYPE=Debug -DMORAVEL_WERROR=ON >/dev/null
cmake --build "$out" -j "$jobs"
ctest --test-dir "$out" --output-on-failure -j "$jobs"
