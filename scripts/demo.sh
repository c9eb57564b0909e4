#!/usr/bin/env bash
# Shows the loader at work under Wine: builds a sample package around the two
# probe setup programs of the end-to-end tests, runs it on a 64-bit Windows
# with a few arguments and prints what the setup program received; then runs
# a truncated copy of the package and prints the message the loader shows.
#
#   scripts/demo.sh [BIN-DIR [BUILD-DIR]]
#
# BIN-DIR (or LOADER_BIN_DIR) holds loader.exe and package-builder, default
# build/bin; BUILD-DIR (or LOADER_BUILD_DIR) is the build folder, default
# build/, whose host build (BUILD-DIR/host, or BUILD-DIR itself) holds the
# probes and boxreader in e2e/. The demo's Wine prefix and files go to
# BUILD-DIR/demo.
set -euo pipefail
export LC_ALL=C

source "$(dirname "$0")/artifacts.sh"
find_artifacts demo "${1:-}" "${2:-}"

demo=$build/demo
export WINEPREFIX=$demo/prefix64
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all
unset WINEARCH DISPLAY WAYLAND_DISPLAY TEMP TMP
mkdir -p "$demo"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

heading() { printf '\n== %s\n' "$*"; }
value() { sed -n "s/^$1=//p" "$2" | head -1 | tr -d '\r'; }

heading "Building a package: loader.exe + a 32-bit and a 64-bit setup program"
"$bin/package-builder" build --stub "$bin/loader.exe" \
  --setup32 "$e2e/probe32.exe" --setup64 "$e2e/probe64.exe" \
  --systems vista,7,8,8.1,10,later \
  --system-text 'This product does not run on %USER%.' \
  -o "$demo/setup.exe" >/dev/null
"$bin/package-builder" inspect "$demo/setup.exe" | sed 's/^/   /'

if [ ! -f "$WINEPREFIX/.demo-ready" ]; then
  heading "Making a 64-bit Wine prefix in $WINEPREFIX (once, about 15 s)"
  wineboot -i </dev/null >"$demo/wineboot.log" 2>&1 || fail "wineboot failed, see $demo/wineboot.log"
  wineserver -w
  touch "$WINEPREFIX/.demo-ready"
fi
wineserver -p </dev/null >/dev/null 2>&1

drive_c=$WINEPREFIX/drive_c
rm -rf "$drive_c/demo"
mkdir -p "$drive_c/demo/Downloads"
cp "$demo/setup.exe" "$drive_c/demo/Downloads/setup.exe"

# boxreader starts the loader with this exact command line and reports any
# message box instead of showing it.
run() {
  printf '%s' "$1" >"$drive_c/demo/cmdline.txt"
  rm -f "$drive_c/demo/received.txt"
  LOADER_PROBE_OUT='C:\demo\received.txt' timeout 120 \
    wine "$e2e/boxreader.exe" 'C:\demo\cmdline.txt' </dev/null >"$drive_c/demo/report.txt" 2>/dev/null \
    || fail "the run did not finish (see $drive_c/demo/report.txt)"
}

heading "Running it on 64-bit Windows 10"
cmdline='"C:\demo\Downloads\setup.exe" /silent "Program Files" --lang=en'
echo "   command line: $cmdline"
run "$cmdline"
received=$drive_c/demo/received.txt
[ -f "$received" ] || { cat "$drive_c/demo/report.txt"; fail "the setup program did not run"; }
self=$(value self "$received")
echo "   The setup program received:"
echo "     bitness:           $(value bits "$received")-bit"
echo "     command line:      $(value cmdline "$received")"
echo "     current directory: $(value cwd "$received")"
echo "     its own path:      $self"
echo "   Loader exit code:    $(value exit "$drive_c/demo/report.txt")"
copy=$drive_c/${self:3}
copy=${copy//\\//}
if [ -e "$copy" ]; then
  echo "   The temporary copy is still there: $self"
else
  echo "   The temporary copy was removed after the setup program ended."
fi

heading "Running a truncated download of the same package"
size=$(stat -c %s "$demo/setup.exe")
head -c $((size - 1000)) "$demo/setup.exe" >"$drive_c/demo/Downloads/setup-partial.exe"
run '"C:\demo\Downloads\setup-partial.exe"'
text=$(sed -n 's/^MessageBoxA.text=//p' "$drive_c/demo/report.txt" | tr -d '\r')
caption=$(sed -n 's/^MessageBoxA.caption=//p' "$drive_c/demo/report.txt" | tr -d '\r')
echo "   The loader shows a message box:"
echo "     caption: $(printf '%b' "$caption")"
echo "     text:    $(printf '%b' "$text")"
echo "   Loader exit code:    $(value exit "$drive_c/demo/report.txt")"

heading "Running on Windows XP, which the package excludes"
wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d winxp /f </dev/null >/dev/null 2>&1
run '"C:\demo\Downloads\setup.exe"'
wine reg delete 'HKCU\Software\Wine' /v Version /f </dev/null >/dev/null 2>&1
text=$(sed -n 's/^MessageBoxA.text=//p' "$drive_c/demo/report.txt" | tr -d '\r')
echo "   The loader shows: $(printf '%b' "$text")"
