#!/usr/bin/env bash
# make bench: the loader's three numbers, measured.
#   1. the stub's size, and where its bytes go (the stub build's link map)
#   2. the road from the package check to the written copy, in the simulated
#      Windows, against liblzma's raw decode of the same stream; the CRC-32;
#      7-Zip's decoder on the same stream (bench/RoadBenchMain.cpp)
#   3. the peak heap of that run beside its bound
#   4. under Wine, as information: starting a 1 MiB and a 32 MiB setup
#      program through the loader against starting it directly
# Usage: bench/run.sh [BUILD-DIR]   (default: build; `make bench` builds it first)
#
# The inputs are made here, from files every machine set up by
# scripts/setup.sh has: the setup programs are Wine's own Windows DLLs and
# programs, concatenated in name order (C locale) and cut at 64 MiB, the
# 32-bit ones for Payload32 and the 64-bit ones for Payload64; the package is
# made by package-builder (liblzma preset 6, 8 MiB dictionary). They are kept
# under BUILD-DIR/bench/inputs and made again only when what they are made
# from changes. Figures go to stdout; the summary, one figure per line with
# its target and ratio, comes last. The exit status is 1 when a target is
# missed or a figure cannot be taken.
set -euo pipefail
export LC_ALL=C

top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
bin=$build/bin
host=$build/host
work=$build/bench
inputs=$work/inputs
results=$work/results
mkdir -p "$inputs" "$results"
rm -f "$results"/*

loader=$bin/loader.exe
builder=$bin/package-builder
map=$build/win32/loader.map
for f in "$loader" "$builder" "$map" "$host/bench/loader-bench" "$host/bench/stub-map"; do
  [ -e "$f" ] || { echo "bench: $f is missing; run make bench (it builds everything first)" >&2; exit 1; }
done

program_size=$((64 << 20))
lzma_options=(--lzma-preset 6 --dictionary-size 8M)
road_runs=9   # rounds of the road and the lower bound in one process
wine_runs=5   # starts of each program under Wine

say() { printf '\n== %s\n' "$*"; }
result() { printf '%s=%s\n' "$1" "$2" >>"$results/figures"; }
figure() { sed -n "s/^$1=//p" "$results"/* | tail -1; }

# ---- 1. The stub's size ------------------------------------------------------
say "stub size: $loader"
"$host/bench/stub-map" "$map" "$loader"
result stub_bytes "$(stat -c %s "$loader")"

# ---- Inputs ---------------------------------------------------------------------
# program_from DIR OUT: Wine's Windows binaries in DIR, concatenated in name
# order until program_size bytes, the last one cut. Writes OUT.list too.
program_from() {
  local dir=$1 out=$2 total=0 size name
  : >"$out.list.new"
  while IFS= read -r name; do
    size=$(stat -c %s "$dir/$name")
    printf '%s %s\n' "$size" "$name" >>"$out.list.new"
    total=$((total + size))
    [ "$total" -ge "$program_size" ] && break
  done < <(find "$dir" -maxdepth 1 -type f \( -name '*.dll' -o -name '*.exe' \) -printf '%f\n' | sort)
  [ "$total" -ge "$program_size" ] || { echo "bench: $dir holds less than $program_size bytes" >&2; exit 1; }
  if [ -f "$out" ] && cmp -s "$out.list.new" "$out.list"; then
    rm "$out.list.new"
    return
  fi
  mv "$out.list.new" "$out.list"
  (cd "$dir" && while read -r size name; do cat "$name"; done <"$out.list") | head -c "$program_size" >"$out.new" || true
  mv "$out.new" "$out"
}

# stamp_matches FILE WHAT...: true when FILE.stamp holds the checksums of WHAT.
stamp_matches() {
  local file=$1
  shift
  [ -f "$file" ] && [ -f "$file.stamp" ] && [ "$(cat "$file.stamp")" = "$(stamp_of "$@")" ]
}
stamp_of() { sha256sum "$@" | cut -c1-64 | tr '\n' ' '; echo "${lzma_options[*]}"; }

say "inputs (in $inputs)"
program_from /usr/lib/i386-linux-gnu/wine/i386-windows "$inputs/setup32.bin"
program_from /usr/lib/x86_64-linux-gnu/wine/x86_64-windows "$inputs/setup64.bin"
echo "setup32.bin: $(wc -l <"$inputs/setup32.bin.list") files of Wine's i386-windows, $(stat -c %s "$inputs/setup32.bin") bytes"
echo "setup64.bin: $(wc -l <"$inputs/setup64.bin.list") files of Wine's x86_64-windows, $(stat -c %s "$inputs/setup64.bin") bytes"
package=$inputs/package.exe
if ! stamp_matches "$package" "$loader" "$inputs/setup32.bin" "$inputs/setup64.bin"; then
  echo "building the package (both payloads, ${lzma_options[*]}; about a minute)"
  "$builder" build --stub "$loader" --setup32 "$inputs/setup32.bin" --setup64 "$inputs/setup64.bin" \
    "${lzma_options[@]}" -o "$package.new" >"$inputs/package.log" 2>&1 \
    || { cat "$inputs/package.log"; exit 1; }
  mv "$package.new" "$package"
  stamp_of "$loader" "$inputs/setup32.bin" "$inputs/setup64.bin" >"$package.stamp"
fi
echo "package.exe: $(stat -c %s "$package") bytes"

# ---- 2, 3. The road, the CRC-32, the peak heap, 7-Zip ---------------------------
say "the road from the package check to the written copy (loader-bench)"
"$host/bench/loader-bench" --package "$package" --program "$inputs/setup64.bin" --work "$work/road" \
  --runs "$road_runs" --results "$results/road" --7zz "$(command -v 7zz || echo 7zz)"

# ---- 4. Under Wine -------------------------------------------------------------
wine_status=skipped
if command -v wine >/dev/null && command -v wineserver >/dev/null && [ -f "$host/bench/quit32.exe" ]; then
  say "under Wine: starting a setup program through the loader and directly ($wine_runs runs each)"
  if bash "$top/bench/wine-start.sh" "$loader" "$builder" "$host/bench/quit32.exe" "$inputs/setup64.bin" \
      "$work/wine" "$wine_runs" "$results/wine"; then
    wine_status=done
  else
    wine_status=failed
  fi
else
  say "under Wine: skipped (Wine or MinGW missing)"
fi

# ---- Summary ---------------------------------------------------------------------
missed=0
# verdict VALUE LIMIT: "ok" when VALUE <= LIMIT, else "MISSED".
verdict() { if awk -v v="$1" -v l="$2" 'BEGIN { exit !(v <= l) }'; then echo ok; else echo MISSED; fi; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

stub=$(figure stub_bytes)
own=$(figure road_memory_own_ms)
own_disk=$(figure road_disk_own_ms)
bound=$(figure lower_bound_ms)
peak=$(figure heap_peak_bytes)
peak_bound=$(figure heap_bound_bytes)
r_memory=$(figure ratio_memory)
r_disk=$(figure ratio_disk)
v_stub=$(verdict "$stub" 32768)
v_memory=$(verdict "$r_memory" 1.10)
v_disk=$(verdict "$r_disk" 1.10)
v_heap=$(verdict "$peak" "$peak_bound")
for v in "$v_stub" "$v_memory" "$v_disk" "$v_heap"; do [ "$v" = ok ] || missed=1; done
crc=$(figure crc_loader_ms)
crc_bytewise=$(figure crc_bytewise_ms)
sevenzip=$(figure sevenzip_decode_ms)

say "summary: figure, target, ratio (the machine: $(nproc) CPUs, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1))"
printf 'road in memory:  loader %.1f ms (own; total %.1f ms, of which file calls %.1f, heap calls %.1f)\n' \
  "$own" "$(figure road_memory_total_ms)" "$(figure road_memory_files_ms)" "$(figure road_memory_heap_ms)"
printf 'road on disk:    loader %.1f ms (own; total %.1f ms, of which file calls %.1f, heap calls %.1f)\n' \
  "$own_disk" "$(figure road_disk_total_ms)" "$(figure road_disk_files_ms)" "$(figure road_disk_heap_ms)"
printf 'lower bound:     %.1f ms (liblzma raw decode of the same %s-byte stream)\n' "$bound" "$(figure compressed_bytes)"
printf 'crc-32:          %.2f ms over %s bytes; a byte at a time %.2f ms\n' "$crc" "$(figure checksum_bytes)" "$crc_bytewise"
printf 'road in memory, the CRC a byte at a time: loader %.1f ms (own)\n' "$(figure road_bytewise_own_ms)"
[ -n "$sevenzip" ] && printf '7-zip (7zz t):   %.1f ms decoding the same stream (information)\n' "$sevenzip"
if [ "$wine_status" = done ]; then
  for size in 1MiB 32MiB; do
    printf 'wine %-6s      through the loader %.0f ms, directly %.0f ms (median wall time; information)\n' \
      "$size:" "$(figure "wine_loader_ms_$size")" "$(figure "wine_direct_ms_$size")"
  done
else
  echo "wine:            $wine_status"
fi
echo
printf 'stub size: %s bytes, target <= 32768, ratio %s %s\n' "$stub" "$(ratio "$stub" 32768)" "$v_stub"
printf 'stub size against the LZMA x86 stub of NSIS 3.08 (about 97 KB, a given figure): ratio %s (information)\n' \
  "$(ratio "$stub" 97000)"
printf 'road ratio in memory: %.3f (median over rounds of loader / lower bound; medians %.1f / %.1f ms), target <= 1.10, %s\n' \
  "$r_memory" "$own" "$bound" "$v_memory"
printf 'road ratio on disk: %.3f (median over rounds of loader / lower bound; medians %.1f / %.1f ms), target <= 1.10, %s\n' \
  "$r_disk" "$own_disk" "$bound" "$v_disk"
printf 'peak heap: %s bytes, bound %s bytes, ratio %s %s\n' "$peak" "$peak_bound" "$(ratio "$peak" "$peak_bound")" \
  "$v_heap"
printf 'road ratio in memory with the CRC a byte at a time: %.3f (information)\n' "$(figure ratio_bytewise)"
printf 'crc-32 share of the lower bound: %s, a byte at a time %s (information)\n' "$(ratio "$crc" "$bound")" \
  "$(ratio "$crc_bytewise" "$bound")"
[ -n "$sevenzip" ] && printf '7-zip ratio to the lower bound: %s (information)\n' "$(ratio "$sevenzip" "$bound")"
if [ "$wine_status" = done ]; then
  for size in 1MiB 32MiB; do
    printf 'wine %s start ratio: %s (loader / direct; information)\n' "$size" \
      "$(ratio "$(figure "wine_loader_ms_$size")" "$(figure "wine_direct_ms_$size")")"
  done
fi
[ "$wine_status" = failed ] && missed=1
exit "$missed"
