#!/usr/bin/env bash
# compare.sh WORK MAC_SESSION BUNDLE LINUX_SESSION LINUX_8 LINUX_U
# Runs the session with the Linux build's libraries and, through the bundle
# loader, with the shipped Mac bundle; the Mac transcript must equal the
# Unicode part of the Linux one line for line. MORAVEL_EMULATOR, when set,
# runs the (32-bit) Mac session.
set -euo pipefail
work=$1
mkdir -p "$work"
"$4" "$work/linux.txt" "$work/linux" "$5" "$6"
${MORAVEL_EMULATOR:-} "$2" "$work/mac.txt" "$work/mac" "$3"
sed -n '/^== Unicode build/,$p' "$work/linux.txt" >"$work/linux-unicode.txt"
if ! diff -u "$work/linux-unicode.txt" "$work/mac.txt"; then
  echo "the shipped Mac bundle answers otherwise than the Linux Unicode build (lines: - Linux, + Mac)"
  exit 1
fi
echo "$(wc -l <"$work/mac.txt") lines of answers from the shipped Mac bundle, the same as the Linux Unicode build's"
