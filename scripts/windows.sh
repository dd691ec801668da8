#!/usr/bin/env bash
# Builds the Windows deliverables with the MinGW-w64 cross compilers and tests them:
#   build-win/i686/lib/Moravel.dll, MoravelU.dll    the shipped 32-bit DLLs
#   build-win/i686-test/                            32-bit test builds (and, for wine, test host and suite)
#   build-win/x86_64/lib/Moravel.dll, MoravelU.dll  their 64-bit twins
#   build-win/pe-test/                              the PE loader and what it runs, as 32-bit Linux programs
# A second clean build of the shipped DLLs must give the same bytes. The PE
# loader (tests/peloader) runs the shipped DLLs in a 32-bit Linux process,
# natively or under qemu-i386: their answers to the shipped-build session
# must be the Linux build's (MORAVEL_LINUX_BUILD, default build/) line for
# line, and the Windows plug-in suite runs against the 32-bit test builds.
# Where 32-bit wine runs, the suite and session also run under it. Every DLL
# file also gets structural tests. Build folders may be given relative to the
# checkout or as absolute paths.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
werror=(-DMORAVEL_WERROR=ON)
# absolute DIR: DIR (relative to the checkout, or absolute) as an absolute path.
absolute() { mkdir -p "$1" && (cd "$1" && pwd); }
out=$(absolute "${MORAVEL_WINDOWS_BUILD:-build-win}")
linux_build=$(absolute "${MORAVEL_LINUX_BUILD:-build}")
shipped=$out/i686/lib

# deliverables DIR ARCH: the release DLLs for ARCH in DIR.
deliverables() {
  cmake -S . -B "$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$2.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DMORAVEL_BUILD_TESTS=OFF "${werror[@]}" >/dev/null
  cmake --build "$1" -j "$jobs" --target Moravel MoravelU
}

echo "== 32-bit deliverables and 64-bit twins"
for arch in i686 x86_64; do deliverables "$out/$arch" "$arch"; done

echo "== a second clean build of the deliverables gives the same bytes"
rm -rf "$out/i686-again"
deliverables "$out/i686-again" i686 >/dev/null
for dll in Moravel MoravelU; do
  if ! cmp "$shipped/$dll.dll" "$out/i686-again/lib/$dll.dll"; then
    echo "$dll.dll: two builds of the same sources differ" >&2
    exit 1
  fi
done
rm -rf "$out/i686-again"
echo "Moravel.dll and MoravelU.dll: the same bytes from both builds"

echo "== structural tests of the DLLs"
cmake -S tests/dll_structure -B "$out/structure" -G Ninja "${werror[@]}" \
  -DMORAVEL_DLL32_DIR="$shipped" -DMORAVEL_DLL64_DIR="$out/x86_64/lib" >/dev/null
cmake --build "$out/structure" -j "$jobs"
ctest --test-dir "$out/structure" --output-on-failure

echo "== the Linux build's session and libraries, whose answers the shipped DLLs must give"
if [[ ! -f $linux_build/CMakeCache.txt ]]; then
  cmake -S . -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=Debug "${werror[@]}" >/dev/null
fi
cmake --build "$linux_build" -j "$jobs" --target moravel_session Moravel MoravelU

# Unoptimised test builds: quicker to build, and clear of GCC 12's false
# -Wrestrict reports on std::u32string at -O3. Where 32-bit wine runs, also
# the test host, the plug-in suite and the session as Windows programs.
echo "== 32-bit test builds of the DLLs"
cmake -S . -B "$out/i686-test" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Debug -DMORAVEL_SHIPPED_DIR="$shipped" -DMORAVEL_LINUX_BUILD="$linux_build" "${werror[@]}" >/dev/null
wine=0
bash scripts/probe32.sh windows "$out/i686-test" "the 32-bit Windows suite under wine" || wine=$?
if ((wine == 0)); then
  cmake --build "$out/i686-test" -j "$jobs"
elif ((wine == 1)); then
  cmake --build "$out/i686-test" -j "$jobs" --target MoravelTest MoravelUTest
else
  exit "$wine"
fi

echo "== the shipped DLLs' session and the Windows suite through the PE loader"
status=0
bash scripts/probe32.sh emulated "$out/pe-test" "the PE loader" || status=$?
emulator=""
if ((status == 3)); then emulator=qemu-i386; elif ((status)); then exit 1; fi
cmake -S . -B "$out/pe-test" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i686.cmake -DCMAKE_BUILD_TYPE=Debug \
  "${werror[@]}" -DCMAKE_CROSSCOMPILING_EMULATOR="$emulator" -DMORAVEL_SUITES=peloader \
  -DMORAVEL_DLL_DIR="$shipped" -DMORAVEL_DLL_TEST_DIR="$out/i686-test/lib" -DMORAVEL_LINUX_BUILD="$linux_build" >/dev/null
cmake --build "$out/pe-test" -j "$jobs" --target moravel_session_pe plugin_pe_tests
ctest --test-dir "$out/pe-test" --output-on-failure

if ((wine == 0)); then
  echo "== the 32-bit Windows suite and the shipped-DLL session under wine"
  ctest --test-dir "$out/i686-test" --output-on-failure
fi
