#!/usr/bin/env bash
# Takes a picture of a refusal message box drawn by the real loader.exe under
# Wine: builds a package that supports Windows Vista and later, runs it on a
# Windows XP (Wine's version setting) on a virtual X display, waits for the
# box, captures the screen and crops it to the box.
#
#   scripts/screenshot.sh [BIN-DIR [BUILD-DIR [OUT.png]]]
#
# BIN-DIR (or LOADER_BIN_DIR) holds loader.exe and package-builder, default
# build/bin; BUILD-DIR (or LOADER_BUILD_DIR) is the build folder, default
# build/, whose host build (BUILD-DIR/host, or BUILD-DIR itself) holds the
# probe setup programs in e2e/. The Wine prefix and the files go to
# BUILD-DIR/screenshot; the picture to OUT.png, default docs/refusal-box.png.
# Xvfb runs on the first free display from :90 on; it and the prefix's
# wineserver are ended when the script ends.
set -euo pipefail
export LC_ALL=C

source "$(dirname "$0")/artifacts.sh"
find_artifacts screenshot "${1:-}" "${2:-}"
out=${3:-$top/docs/refusal-box.png}
for tool in wine wineserver Xvfb xwininfo import convert; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh installs it)"
done

work=$build/screenshot
export WINEPREFIX=$work/prefix64
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all
unset WINEARCH WAYLAND_DISPLAY TEMP TMP
mkdir -p "$work"

xvfb_pid=
loader_pid=
finish() {
  [ -n "$loader_pid" ] && kill "$loader_pid" 2>/dev/null
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && wait "$xvfb_pid" 2>/dev/null
  return 0
}
trap finish EXIT

# The refused package: Windows Vista and later only, a text that names the
# running Windows.
"$bin/package-builder" build --stub "$bin/loader.exe" --setup32 "$e2e/probe32.exe" \
  --systems vista,7,8,8.1,10,later \
  --system-text $'Example Setup needs Windows Vista or later.\nThis computer runs %USER%.' \
  -o "$work/setup.exe" >/dev/null

# Xvfb on the first free display.
display=
for n in $(seq 90 130); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
  Xvfb ":$n" -screen 0 800x600x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
    display=:$n
    break
  fi
  xvfb_pid=
done
[ -n "$display" ] || fail "no free X display for Xvfb (see $work/xvfb.log)"
export DISPLAY=$display

if [ ! -f "$WINEPREFIX/.screenshot-ready" ]; then
  echo "screenshot: making a Wine prefix in $WINEPREFIX (once, about 15 s)"
  wineboot -i </dev/null >"$work/wineboot.log" 2>&1 || fail "wineboot failed, see $work/wineboot.log"
  wineserver -w
  touch "$WINEPREFIX/.screenshot-ready"
fi
# Wine's own fonts (Debian's fonts-wine), Tahoma and the Marlett of the
# caption buttons among them, where this Wine looks for them: the prefix's
# Fonts folder.
if [ -d /usr/share/wine/fonts ] && [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ]; then
  cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
fi
wineserver -p </dev/null >/dev/null 2>&1
# Windows XP; and Wine draws the window frames itself, as there is no window
# manager on the display.
wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d winxp /f </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1

drive_c=$WINEPREFIX/drive_c
mkdir -p "$drive_c/Downloads"
cp "$work/setup.exe" "$drive_c/Downloads/setup.exe"
(cd "$drive_c/Downloads" && exec wine 'C:\Downloads\setup.exe' </dev/null >"$work/loader.log" 2>&1) &
loader_pid=$!

# The box is the top-level window whose title is the loader's path.
window=
for _ in $(seq 300); do
  window=$(xwininfo -root -children 2>/dev/null | grep -F '"C:\Downloads\setup.exe"' | awk '{ print $1 }' | head -1 || true)
  [ -n "$window" ] && break
  kill -0 "$loader_pid" 2>/dev/null || fail "the loader ended without a box (see $work/loader.log)"
  sleep 0.1
done
[ -n "$window" ] || fail "no message box after 30 s"
sleep 1  # let Wine finish drawing
geometry() { xwininfo -id "$window" | sed -n "s/^ *$1: *\([0-9-]*\).*/\1/p"; }
x=$(geometry 'Absolute upper-left X')
y=$(geometry 'Absolute upper-left Y')
w=$(geometry Width)
h=$(geometry Height)

mkdir -p "$(dirname "$out")"
import -display "$display" -window root "$work/screen.png"
convert "$work/screen.png" -crop "${w}x${h}+${x}+${y}" +repage -strip "$out"
echo "screenshot: the box, ${w}x${h} at ${x},${y}, in $out"
