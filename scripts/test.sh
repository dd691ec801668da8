#!/usr/bin/env bash
# Sets up the machine, then builds and runs every test:
#   1. every library and tool with warnings as errors, and the whole test suite;
#      then the Debian package, installed into a scratch root and run from there;
#   2. the Windows deliverables, cross-built twice to the same bytes, the
#      shipped-DLL session and the Windows suite run by a PE loader of our
#      own (and under 32-bit wine where it runs), and structural checks of
#      the DLL files;
#   3. the Mac bundle, cross-built, its structural checks, and the shipped-build
#      session and the Mac engine suite run against it by a bundle loader;
#   4. the whole suite built and run as 32-bit x86 Linux programs;
#   5. the reliability checks: the suite under AddressSanitizer and
#      UndefinedBehaviorSanitizer, natively and as 32-bit programs, and each
#      fuzz harness for FUZZ_SECONDS.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
jobs=$(nproc)

echo "== build and test suite"
cmake --preset dev
cmake --build --preset dev -j "$jobs"
ctest --preset dev -j "$jobs"

echo "== Debian package, installed into a scratch root"
bash scripts/package.sh

echo "== Windows"
bash scripts/windows.sh

echo "== Mac"
bash scripts/mac.sh

echo "== 32-bit Linux"
bash scripts/linux32.sh

FUZZ_SECONDS=${FUZZ_SECONDS:-20} bash scripts/reliability.sh
