#!/usr/bin/env bash
# End-to-end, 64-bit Windows: the loader's four fatal errors, each read whole
# from the message box, and what each leaves on disk.
#   fatal-errors.sh BIN-DIR WORK-DIR
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" fatal-errors
use_prefix 64

# The stub as built carries no package: its locator is all zero.
new_case no-package bare.exe "$LOADER"
run_loader ' /temp'
check_box "$TEXT_DAMAGED"
check_no_launch
check "nothing written to the loader's folder" "$(ls "$CASE_DIR")" bare.exe

good=$PACKAGES/good.exe
make_package "$good" --setup32 "$PROBE32" --setup64 "$PROBE64" || e2e_finish
header_offset=$(od -An -tu4 -j128 -N4 "$good" | tr -d ' ')
good_size=$(stat -c %s "$good")

# Cut downloads: inside the package header, and just before its end. The
# image itself stays whole, so Windows still starts it.
for cut in $((header_offset + 40)) $((good_size - 1)); do
  head -c "$cut" "$good" >"$PACKAGES/cut-$cut.exe"
  new_case "cut-$cut" cut.exe "$PACKAGES/cut-$cut.exe"
  run_loader ''
  check_box "$TEXT_TRUNCATED"
  check_no_launch
done

# One changed byte inside the checksum range (the last byte of the header).
cp "$good" "$PACKAGES/flipped.exe"
flip_at=$((header_offset + 69))
byte=$(od -An -tu1 -j"$flip_at" -N1 "$good" | tr -d ' ')
printf '%b' "\\x$(printf %02x $((byte ^ 0xFF)))" | dd of="$PACKAGES/flipped.exe" bs=1 seek="$flip_at" conv=notrunc status=none
new_case flipped flipped.exe "$PACKAGES/flipped.exe"
run_loader ''
check_box "$TEXT_DAMAGED"
check_no_launch

# A payload that is no program: the copy is written, the start fails.
printf 'This is a text file, not a Windows program.\r\n' >"$PACKAGES/not-a-program.txt"
notexe=$PACKAGES/notexe.exe
make_package "$notexe" --setup32 "$PACKAGES/not-a-program.txt" --setup64 "$PACKAGES/not-a-program.txt" || e2e_finish
new_case launch-failed notexe.exe "$notexe"
mkdir -p "$CASE_DIR/tmp"
run_loader ' /temp C:\e2e\launch-failed\tmp'
check_box "$TEXT_LAUNCH_FAILED"
check "start was tried" "$(report CreateProcessA.cmdline)" \
  '"C:\e2e\launch-failed\tmp\notexe.exe" "C:\e2e\launch-failed\notexe.exe" /temp C:\e2e\launch-failed\tmp'
check_that "the copy stays, complete" cmp -s "$PACKAGES/not-a-program.txt" "$CASE_DIR/tmp/notexe.exe"

# "/temp" naming a folder that does not exist: no copy, no folder made.
new_case temp-missing missing.exe "$good"
run_loader ' /temp C:\e2e\temp-missing\nowhere'
check_box "$TEXT_TEMP_FAILED"
check_no_launch
check_that "no folder was created" absent "$CASE_DIR/nowhere"

e2e_finish
