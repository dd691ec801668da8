#!/usr/bin/env bash
# Checks that the exported entry of a 32-bit DLL returns with "ret $0x18":
# the called function removes its six 32-bit arguments from the stack.
set -euo pipefail
dll=$1
objdump=i686-w64-mingw32-objdump
base=$($objdump -p "$dll" | awk '/^ImageBase/ {print $2}')
rva=$($objdump -p "$dll" | sed -nE 's/.*\] +([0-9a-fA-F]+) Export RVA.*/\1/p' | head -n1)
[[ -n $base && -n $rva ]] || { echo "no entry found in $dll"; exit 1; }
start=$((0x$base + 0x$rva))
# The entry's own code up to its first return.
rets=$($objdump -d --start-address=$start --stop-address=$((start + 4096)) "$dll" |
  grep -m1 -E '\sret' || true)
echo "$dll: first return of the entry: $rets"
[[ $rets =~ ret[[:space:]]+\$0x18 ]]
