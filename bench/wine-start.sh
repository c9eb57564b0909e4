#!/usr/bin/env bash
# Start-up times under Wine, as information: the median wall time of
# `wine PROGRAM` for a setup program that ends at once, padded with data to
# 1 MiB and to 32 MiB, started through the loader (a package holding it as
# Payload32) and started directly. The prefix is the bench's own, made once
# under WORK and warmed up; its wineserver is ended when this script ends.
# Usage: wine-start.sh LOADER BUILDER QUIT32 PADDING WORK RUNS RESULTS
set -euo pipefail
export LC_ALL=C
loader=$1 builder=$2 quit=$3 padding=$4 work=$5 runs=$6 results=$7

export WINEPREFIX=$work/prefix
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all
unset WINEARCH DISPLAY WAYLAND_DISPLAY
mkdir -p "$work"
trap 'wineserver -k >/dev/null 2>&1 || true; timeout 20 wineserver -w >/dev/null 2>&1 || true' EXIT

if [ ! -f "$WINEPREFIX/.bench-ready" ]; then
  echo "making the bench's Wine prefix $WINEPREFIX (once, about 15 s)"
  rm -rf "$WINEPREFIX"
  timeout 300 wineboot -i </dev/null >"$work/wineboot.log" 2>&1 || { tail -20 "$work/wineboot.log"; exit 1; }
  timeout 120 wineserver -w
  touch "$WINEPREFIX/.bench-ready"
fi
wineserver -p </dev/null >/dev/null 2>&1
files=$WINEPREFIX/drive_c/bench
mkdir -p "$files"

# Milliseconds since the epoch, with microseconds.
now() { local t=${EPOCHREALTIME/,/.}; echo "$t"; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# run_ms FILE: wall milliseconds of one `wine C:\bench\FILE`.
run_ms() {
  local start end
  start=$(now)
  timeout 120 wine "C:\\bench\\$1" </dev/null >/dev/null 2>&1 || { echo "bench: wine $1 failed" >&2; return 1; }
  end=$(now)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f\n", (b - a) * 1000 }'
}

sizes=(1MiB 32MiB)
declare -A bytes=([1MiB]=$((1 << 20)) [32MiB]=$((32 << 20)))
for size in "${sizes[@]}"; do
  program=$files/quit-$size.exe
  cp "$quit" "$program.new"
  head -c $((bytes[$size] - $(stat -c %s "$quit"))) "$padding" >>"$program.new"
  if ! cmp -s "$program.new" "$program"; then mv "$program.new" "$program"; else rm "$program.new"; fi
  package=$files/loader-$size.exe
  stamp=$(sha256sum "$loader" "$program" | cut -c1-64 | tr '\n' ' ')
  if [ ! -f "$package" ] || [ "$(cat "$package.stamp" 2>/dev/null)" != "$stamp" ]; then
    "$builder" build --stub "$loader" --setup32 "$program" --lzma-preset 6 --dictionary-size 8M \
      -o "$package" >"$work/package-$size.log" 2>&1 || { cat "$work/package-$size.log"; exit 1; }
    echo "$stamp" >"$package.stamp"
  fi
  # Warm-up, and proof that the loader started the program.
  for file in "quit-$size.exe" "loader-$size.exe"; do
    rm -f "$files/ran"
    BENCH_QUIT_MARK='C:\bench\ran' run_ms "$file" >/dev/null
    [ -f "$files/ran" ] || { echo "bench: $file did not start the program" >&2; exit 1; }
  done
done

for size in "${sizes[@]}"; do
  : >"$work/direct-$size.ms"
  : >"$work/loader-$size.ms"
done
for ((r = 0; r < runs; r++)); do
  for size in "${sizes[@]}"; do
    run_ms "quit-$size.exe" >>"$work/direct-$size.ms"
    run_ms "loader-$size.exe" >>"$work/loader-$size.ms"
  done
done

: >"$results"
for size in "${sizes[@]}"; do
  direct=$(median <"$work/direct-$size.ms")
  through=$(median <"$work/loader-$size.ms")
  printf '%-6s through the loader %8.1f ms (%s), directly %8.1f ms (%s)\n' "$size" "$through" \
    "$(tr '\n' ' ' <"$work/loader-$size.ms")" "$direct" "$(tr '\n' ' ' <"$work/direct-$size.ms")"
  printf 'wine_loader_ms_%s=%s\nwine_direct_ms_%s=%s\n' "$size" "$through" "$size" "$direct" >>"$results"
done
