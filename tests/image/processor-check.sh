#!/usr/bin/env bash
# The stub runs on the processors Windows 95 runs on: its code must hold no
# instruction newer than the i486 (cmov and fcomi came with the Pentium Pro,
# rdtsc and cpuid with the Pentium, MMX and SSE later).
# Usage: processor-check.sh LOADER_EXE; exit 77 (skipped) when it is missing.
set -u
exe=$1
[ -f "$exe" ] || { echo "skipped: $exe has not been built"; exit 77; }
found=$(i686-w64-mingw32-objdump -d "$exe" |
  grep -E '\s(cmov[a-z]*|fcomip?|fucomip?|rdtsc|cpuid|cmpxchg8b|sysenter|ud2)\s|%x?mm[0-9]' | head -5)
if [ -n "$found" ]; then
  echo "loader.exe uses instructions an i486 lacks:"
  echo "$found"
  exit 1
fi
echo "loader.exe: every instruction runs on an i486"
