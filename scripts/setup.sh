#!/usr/bin/env bash
# setup.sh [PROFILE...]: installs the Debian packages that each profile
# needs (default: test). The lists are here only.
#   demo   the compiler, CMake, Ninja, the JSON (two parsers) and argument libraries:
#          enough to build the plug-in and the tool (scripts/demo.sh)
#   test   everything scripts/test.sh builds and runs: demo, plus clang and its
#          runtimes, GoogleTest, Google Benchmark, the MinGW-w64 cross
#          compilers, 32-bit wine (adding the i386 architecture),
#          g++-multilib, lld-13 (its linker writes the Mac bundle), qemu-user
#          (32-bit checks, the Mac bundle's and the Windows DLLs', where the
#          kernel runs no 32-bit programs), Python and GNU parallel (the
#          many-machine merge recipe of docs/MERGE.md)
#   bench  demo, plus Google Benchmark, the peer engines, pkg-config, Python,
#          GNU time and strace (bench/run.sh)
set -euo pipefail

demo=(g++ cmake ninja-build nlohmann-json3-dev libcli11-dev libsimdjson-dev)
test=(clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine32:i386 g++-multilib lld-13 qemu-user python3
  parallel)
bench=(libbenchmark-dev libctemplate-dev libkainjow-mustache-dev pkg-config python3 time strace)

packages=("${demo[@]}")
for profile in "${@:-test}"; do
  case $profile in
    demo) ;;
    test) packages+=("${test[@]}") ;;
    bench) packages+=("${bench[@]}") ;;
    *)
      echo "setup: unknown profile '$profile' (expected demo, test or bench)" >&2
      exit 64
      ;;
  esac
done

# The 32-bit wine comes from Debian's i386 architecture.
if [[ " ${packages[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture"
  dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
