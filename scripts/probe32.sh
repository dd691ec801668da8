#!/usr/bin/env bash
# probe32.sh linux|windows|emulated DIR WHAT: whether this machine runs 32-bit
# programs, natively (linux), under 32-bit wine (windows), or natively or else
# under qemu-i386 (emulated), tried with a tiny one built in DIR. Exit status
# 0: it runs; 3 (emulated only): it runs under qemu-i386, and one line says so;
# 1: it does not, and one line says that WHAT is skipped; 2: the tiny program
# could not be built. The wine prefix
# DIR/wineprefix is the one the suites use; what the tiny program's run
# printed is kept in DIR/probe32.log.
set -euo pipefail
kind=$1
dir=$(mkdir -p "$2" && cd "$2" && pwd)
what=$3
src=$dir/probe32.c
echo 'int main(void) { return sizeof(void *) == 4 ? 0 : 3; }' >"$src"
case $kind in
  linux | emulated)
    gcc -m32 -o "$dir/probe32" "$src" || exit 2
    system="32-bit Linux programs"
    run=(timeout 60 "$dir/probe32")
    ;;
  windows)
    i686-w64-mingw32-gcc-posix -o "$dir/probe32.exe" "$src" || exit 2
    export WINEPREFIX=$dir/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
    system="32-bit Windows programs under wine"
    run=(timeout 300 /usr/lib/wine/wine "$dir/probe32.exe")
    ;;
  *)
    echo "usage: probe32.sh linux|windows|emulated DIR WHAT" >&2
    exit 2
    ;;
esac
if ! "${run[@]}" >"$dir/probe32.log" 2>&1; then
  if [[ $kind == emulated ]] && timeout 60 qemu-i386 "$dir/probe32" >>"$dir/probe32.log" 2>&1; then
    echo "$what: run under qemu-i386, since this machine runs no $system itself"
    exit 3
  fi
  echo "$what: skipped, this machine runs no $system (see $dir/probe32.log)"
  exit 1
fi
