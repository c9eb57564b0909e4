#!/usr/bin/env bash
# End-to-end, the Windows build of package-builder (package-builder.exe, a
# 64-bit console program) under Wine: from the same inputs it writes the same
# bytes as the Linux build, including a text with characters outside the ANSI
# code page given on the command line, and reads and writes files whose
# names hold such characters; both builds' inspect reports agree;
# a second build replaces the output in one step; a refused build leaves
# everything as it was. Finally the package it made runs.
#   windows-builder.sh BIN-DIR WORK-DIR
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" windows-builder
WIN_BUILDER=$BIN_DIR/package-builder.exe
[ -f "$WIN_BUILDER" ] || skip "package-builder.exe is not built ($WIN_BUILDER); run make tools-win"
use_prefix 64

# win_builder ARGUMENTS...: package-builder.exe under Wine, stdout and stderr
# to $LOGS/win.out and win.err (CR LF made LF), exit code in WIN_RC. Wine
# reads the arguments in the locale's character set: UTF-8 here.
win_builder() {
  LC_ALL=C.UTF-8 timeout "$RUN_TIMEOUT" wine "$WIN_BUILDER" "$@" </dev/null >"$LOGS/win.out.raw" 2>"$LOGS/win.err.raw"
  WIN_RC=$?
  tr -d '\r' <"$LOGS/win.out.raw" >"$LOGS/win.out"
  tr -d '\r' <"$LOGS/win.err.raw" >"$LOGS/win.err"
}

# builder_case NAME: a case of builder runs (no loader run, so no loader
# details for a failure to show).
builder_case() {
  echo "case $1"
  CASE_FAILED=1
}

# The inputs on C:, the stub beside the builder (its default).
in=$C_DRIVE/e2e/builder-in
out=$C_DRIVE/e2e/builder-out
rm -rf "$in" "$out"
mkdir -p "$in" "$out"
cp "$PROBE32" "$in/setup32.exe"
cp "$PROBE64" "$in/setup64.exe"
printf '\xEF\xBB\xBFThis setup needs 64-bit Windows.\nИзвините.\n' >"$in/architecture.txt"
head -c 3000 /dev/urandom >"$in/extra.bin"
system_text='%USER% wird nicht unterstützt — 対応していません'
options=(--systems xp,vista,7,8,8.1,10 --release-ids 1607-22000 --elevation 2
         --lzma-preset 7 --dictionary-size 256K)

builder_case build
win_builder build --setup32 'C:\e2e\builder-in\setup32.exe' --setup64 'C:\e2e\builder-in\setup64.exe' \
  "${options[@]}" --system-text "$system_text" --architecture-text-file 'C:\e2e\builder-in\architecture.txt' \
  --extra-inside 'C:\e2e\builder-in\extra.bin' -o 'C:\e2e\builder-out\setup.exe'
check "package-builder.exe build exits 0" "$WIN_RC" 0
check "nothing on stderr" "$(cat "$LOGS/win.err")" ""
LC_ALL=C.UTF-8 "$BUILDER" build --stub "$LOADER" --setup32 "$in/setup32.exe" --setup64 "$in/setup64.exe" \
  "${options[@]}" --system-text "$system_text" --architecture-text-file "$in/architecture.txt" \
  --extra-inside "$in/extra.bin" -o "$PACKAGES/host.exe" >"$LOGS/host.out" 2>&1
check "the Linux build exits 0" "$?" 0
summary() { sed 's/^package-builder: wrote .*: \([0-9]* bytes (.*)\)$/\1/' "$1"; }
check "the same summary" "$(summary "$LOGS/win.out")" "$(summary "$LOGS/host.out")"
check_that "byte for byte the Linux build's package" cmp "$out/setup.exe" "$PACKAGES/host.exe"
"$BUILDER" inspect "$out/setup.exe" >"$LOGS/host-inspect.txt" 2>&1
check "the Linux inspect passes it" "$?" 0
check "with the text as given" "$(grep -A1 SystemText "$LOGS/host-inspect.txt" | tail -1)" "    | $system_text"

builder_case inspect
win_builder inspect 'C:\e2e\builder-out\setup.exe'
check "package-builder.exe inspect exits 0" "$WIN_RC" 0
check "the report of the Linux build, but for the file name" "$(tail -n +2 "$LOGS/win.out")" \
  "$(tail -n +2 "$LOGS/host-inspect.txt")"
check "first line names the file as given" "$(head -1 "$LOGS/win.out")" 'C:\e2e\builder-out\setup.exe: '"$(stat -c %s "$out/setup.exe")"' bytes'

builder_case replace
cp "$out/setup.exe" "$PACKAGES/first.exe"
win_builder build --setup32 'C:\e2e\builder-in\setup32.exe' --refuse-64bit -o 'C:\e2e\builder-out\setup.exe'
check "a second build over the output exits 0" "$WIN_RC" 0
"$BUILDER" build --stub "$LOADER" --setup32 "$in/setup32.exe" --refuse-64bit -o "$PACKAGES/host2.exe" >/dev/null 2>&1
check_that "the output is the new package" cmp "$out/setup.exe" "$PACKAGES/host2.exe"
check "no temporary file left" "$(ls -A "$out")" "setup.exe"

builder_case "names outside the ANSI code page"
cp "$PROBE32" "$in/Установка.exe"
"$BUILDER" build --stub "$LOADER" --setup32 "$in/setup32.exe" -o "$PACKAGES/host3.exe" >/dev/null 2>&1
win_builder build --setup32 'C:\e2e\builder-in\Установка.exe' -o 'C:\e2e\builder-out\セットアップ.exe'
check "package-builder.exe build exits 0" "$WIN_RC" 0
check_that "it read and wrote those files" cmp "$out/セットアップ.exe" "$PACKAGES/host3.exe"
rm -f "$out/セットアップ.exe"

builder_case refused
cp "$out/setup.exe" "$PACKAGES/before.exe"
win_builder build --stub 'C:\e2e\builder-out\setup.exe' --setup32 'C:\e2e\builder-in\setup32.exe' \
  -o 'C:\e2e\builder-out\setup.exe'
check "a package as stub: exit code 1" "$WIN_RC" 1
check "one line on stderr" "$(wc -l <"$LOGS/win.err")" 1
check_that "the output is untouched" cmp "$out/setup.exe" "$PACKAGES/before.exe"
check "nothing else written" "$(ls -A "$out")" "setup.exe"
win_builder build --setup32 'C:\e2e\builder-in\setup32.exe' --no-such-option -o 'C:\e2e\builder-out\x.exe'
check "an unknown option: exit code 2" "$WIN_RC" 2

# The first package of the Windows build, run by the loader on this
# 64-bit Windows 10 of a release in its range.
set_release_id 2009
new_case run setup.exe "$PACKAGES/first.exe"
run_loader ' /S'
check_ran_cleanly
check "the 64-bit build runs" "$(probe bits)" 64

e2e_finish
