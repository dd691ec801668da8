#!/usr/bin/env bash
# Builds the Mac deliverable and tests it:
#   build-mac/bundle/MoravelMac.bundle   the shipped bundle: i386, Mac OS X 10.6 and later
#   build-mac/i386-test/                 its checks, as 32-bit Linux programs
# The bundle is cross-built with clang and lld-13's Mach-O linker
# (cmake/mac-i386.cmake), its rebase table completed by mac_bundle_tool, which
# the Linux build (MORAVEL_LINUX_BUILD, default build/) makes. The checks read
# the bundle's files as a Mac would, and a bundle loader runs the shipped
# bundle in a 32-bit process against the Mac stand-ins: the shipped-build
# session's answers must be the Linux Unicode build's, line for line. A
# second build of the bundle from a clean tree must give the same bytes. On a
# machine that cannot run 32-bit programs the checks run under qemu-i386, or
# are skipped with one line where it cannot either.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
# The build folders: absolute, or relative to the checkout.
absolute() { if [[ $1 == /* ]]; then echo "$1"; else echo "$PWD/$1"; fi; }
out=$(absolute "${MORAVEL_MAC_BUILD:-build-mac}")
linux_build=$(absolute "${MORAVEL_LINUX_BUILD:-build}")
werror=(-DMORAVEL_WERROR=ON)

echo "== the Linux build's bundle tool, session and libraries"
if [[ ! -f $linux_build/CMakeCache.txt ]]; then
  cmake -S . -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=Debug "${werror[@]}" >/dev/null
fi
cmake --build "$linux_build" -j "$jobs" --target mac_bundle_tool moravel_session Moravel MoravelU

echo "== the Mac bundle"
bundle_config=(-G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mac-i386.cmake -DCMAKE_BUILD_TYPE=Release "${werror[@]}"
  -DMORAVEL_MAC_BUNDLE_TOOL="$linux_build/cmake/mac/mac_bundle_tool")
cmake -S . -B "$out/bundle" "${bundle_config[@]}" -DMORAVEL_BUILD_TESTS=ON >/dev/null
cmake --build "$out/bundle" -j "$jobs"

echo "== the same bundle from a clean tree elsewhere"
rm -rf "$out/bundle-again"
cmake -S . -B "$out/bundle-again" "${bundle_config[@]}" >/dev/null
cmake --build "$out/bundle-again" -j "$jobs" --target MoravelMac >/dev/null
if ! diff -r "$out/bundle/MoravelMac.bundle" "$out/bundle-again/MoravelMac.bundle"; then
  echo "two builds of the same sources give different bundles ($out/bundle, $out/bundle-again)"
  exit 1
fi
echo "MoravelMac.bundle: byte for byte the same from both builds"

echo "== its structure, and its session through the bundle loader"
status=0
bash scripts/probe32.sh emulated "$out/i386-test" "the Mac bundle's checks" || status=$?
if ((status == 1)); then exit 0; fi
emulator=""
if ((status == 3)); then emulator=qemu-i386; elif ((status)); then exit "$status"; fi
cmake -S . -B "$out/i386-test" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i686.cmake -DCMAKE_BUILD_TYPE=Debug \
  "${werror[@]}" -DCMAKE_CROSSCOMPILING_EMULATOR="$emulator" -DMORAVEL_SUITES=macbundle -DMORAVEL_MAC_BUNDLE_BUILD="$out/bundle" \
  -DMORAVEL_LINUX_BUILD="$linux_build" >/dev/null
cmake --build "$out/i386-test" -j "$jobs" --target moravel_session_mac mac_bundle_tests plugin_macho_tests
ctest --test-dir "$out/i386-test" --output-on-failure
