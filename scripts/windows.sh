#!/usr/bin/env bash
# Builds the Windows deliverables with the MinGW-w64 cross compilers and tests them:
#   build-win/i686/lib/Moravel.dll, MoravelU.dll    the shipped 32-bit DLLs
#   build-win/i686-test/                            32-bit test builds, test host and plug-in suite
#   build-win/x86_64/lib/Moravel.dll, MoravelU.dll  their 64-bit twins
# The plug-in suite runs under 32-bit wine, with the shipped DLLs in its
# Windows-only cases, and the shipped DLLs must answer a host session as the
# Linux build (MORAVEL_LINUX_BUILD, default build/) does; every DLL file also
# gets structural tests. On a machine that cannot run 32-bit Windows programs
# the same suites run with 64-bit test builds and the 64-bit twins under
# 64-bit wine instead (build-win/x86_64-test/), one line saying so.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
out=${MORAVEL_WINDOWS_BUILD:-build-win}
werror=(-DMORAVEL_WERROR=ON)
shipped=$PWD/$out/i686/lib

echo "== 32-bit deliverables and 64-bit twins"
for arch in i686 x86_64; do
  cmake -S . -B "$out/$arch" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$arch.cmake \
    -DCMAKE_BUILD_TYPE=Release -DMORAVEL_BUILD_TESTS=OFF "${werror[@]}" >/dev/null
  cmake --build "$out/$arch" -j "$jobs" --target Moravel MoravelU
done

echo "== structural tests of the DLLs"
cmake -S tests/dll_structure -B "$out/structure" -G Ninja "${werror[@]}" \
  -DMORAVEL_DLL32_DIR="$shipped" -DMORAVEL_DLL64_DIR="$PWD/$out/x86_64/lib" >/dev/null
cmake --build "$out/structure" -j "$jobs"
ctest --test-dir "$out/structure" --output-on-failure

echo "== the Linux build's session and libraries, whose answers the shipped DLLs must give"
linux_build=${MORAVEL_LINUX_BUILD:-build}
if [[ ! -f $linux_build/CMakeCache.txt ]]; then
  cmake -S . -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=Debug "${werror[@]}" >/dev/null
fi
cmake --build "$linux_build" -j "$jobs" --target moravel_session Moravel MoravelU

# test_suite ARCH SHIPPED: the test builds, test host, plug-in suite and
# shipped-DLL session for ARCH (i686 or x86_64) in $out/ARCH-test, with the
# DLLs in SHIPPED as the shipped ones; built, not yet run.
test_suite() {
  # Unoptimised: quicker to build, and clear of GCC 12's false -Wrestrict
  # reports on std::u32string at -O3.
  cmake -S . -B "$out/$1-test" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$1.cmake" \
    -DCMAKE_BUILD_TYPE=Debug -DMORAVEL_SHIPPED_DIR="$2" \
    -DMORAVEL_LINUX_BUILD="$(cd "$linux_build" && pwd)" "${werror[@]}" >/dev/null
  cmake --build "$out/$1-test" -j "$jobs"
}

echo "== 32-bit test builds, test host, plug-in suite and shipped-DLL session"
test_suite i686 "$shipped"
status=0
bash scripts/probe32.sh windows "$out/i686-test" "the 32-bit Windows suite and the shipped-DLL session" || status=$?
if ((status == 0)); then
  ctest --test-dir "$out/i686-test" --output-on-failure
  exit 0
fi
if ((status != 1)); then exit "$status"; fi

echo "== instead: 64-bit test builds, plug-in suite and the 64-bit twins' session under 64-bit wine"
test_suite x86_64 "$PWD/$out/x86_64/lib"
status=0
bash scripts/probe32.sh windows64 "$out/x86_64-test" "the 64-bit Windows suite" || status=$?
if ((status == 1)); then exit 0; fi
if ((status)); then exit "$status"; fi
ctest --test-dir "$out/x86_64-test" --output-on-failure
