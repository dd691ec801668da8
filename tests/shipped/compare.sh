#!/usr/bin/env bash
# compare.sh WORK LINUX_SESSION LINUX_8 LINUX_U WINE WINDOWS_SESSION DLL_8 DLL_U
# Runs the session with the Linux build's libraries and, under wine, with the
# shipped DLLs, then compares the two transcripts line for line.
set -euo pipefail
work=$1
mkdir -p "$work"
"$2" "$work/linux.txt" "$work/linux" "$3" "$4"
"$5" "$6" "$work/windows.txt" "$work/windows" "$7" "$8"
if ! diff -u "$work/linux.txt" "$work/windows.txt"; then
  echo "the shipped DLLs answer otherwise than the Linux build (lines: - Linux, + Windows)"
  exit 1
fi
echo "$(wc -l <"$work/windows.txt") lines of answers from the shipped DLLs, the same as the Linux build's"
