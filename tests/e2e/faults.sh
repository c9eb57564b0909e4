#!/usr/bin/env bash
# End-to-end, 64-bit Windows: faults of the machine around an intact package,
# each ending the way the loader means to, with exit code 0:
# - another program holds the loader's file as it starts: PackageDamaged;
# - the temporary folder lies on a drive too small for the copy (a 1 MiB tmpfs
#   as drive T:): TempCopyFailed, and no partial copy stays;
# - a dictionary of 0x7FFFFFFF, whose 2 GiB window a 32-bit process cannot
#   have: a quiet end, no message, no start, no exception.
# (A "/temp" folder that does not exist and a payload that is no program are
# in fatal-errors.sh.)
#   faults.sh BIN-DIR WORK-DIR
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" faults
HOLDER=$WORK/holder.exe
[ -f "$HOLDER" ] || skip "holder.exe is not built ($HOLDER); MinGW missing?"

SMALL_DRIVE=$WORK/small-drive
faults_cleanup() {
  e2e_cleanup
  if mountpoint -q "$SMALL_DRIVE" 2>/dev/null; then umount "$SMALL_DRIVE" 2>/dev/null || umount -l "$SMALL_DRIVE"; fi
  rm -f "${WINEPREFIX:-/nonexistent}/dosdevices/t:"
}
trap faults_cleanup EXIT
use_prefix 64

good=$PACKAGES/good.exe
make_package "$good" --setup32 "$PROBE32" --setup64 "$PROBE64" || e2e_finish

# Another program holds the loader's file as the loader starts. Windows, and
# Wine, refuse to open a running image for writing and to start an image
# that is held for writing, so the hold that can meet the loader is one
# without any sharing (a scanner's or a backup's): the loader's own open, the
# first step of its run, is refused, and it ends with PackageDamaged.
# holder.exe starts the loader suspended, takes the hold, then lets it run;
# the box is read from Wine's relay trace of MessageBoxA (the text is short).
new_case held held.exe "$good"
wine_reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ /d user32.MessageBoxA /f
(cd "$CASE_DIR" && WINEDEBUG=+relay timeout "$RUN_TIMEOUT" wine "$HOLDER" "$LOADER_WIN" \
  </dev/null >"$CONTROL/holder.txt" 2>"$CONTROL/relay.txt")
wine_reg delete 'HKCU\Software\Wine\Debug' /v RelayInclude /f
cp "$CONTROL/holder.txt" "$LOGS/held.holder.txt"
cp "$CONTROL/relay.txt" "$LOGS/held.relay.txt"
held() { sed -n "s/^$1=//p" "$CONTROL/holder.txt" | tr -d '\r'; }
# One relay line per box: Call user32.MessageBoxA(owner,address "text",address "caption",style)
boxes=$(grep -a 'Call user32.MessageBoxA(' "$CONTROL/relay.txt")
relay_box() { printf '%s\n' "$boxes" | sed -n "s/^.*MessageBoxA(\([0-9a-f]*\),[0-9a-f]* \"\(.*\)\",[0-9a-f]* \"\(.*\)\",\([0-9a-f]*\)).*$/\\$1/p" | head -1; }
check "a running loader's file cannot be opened for writing" "$(held write-open)" refused
check "another program holds the loader's file, sharing nothing" "$(held exclusive-open)" held
check "one message box" "$(printf '%s' "$boxes" | grep -c 'MessageBoxA')" 1
check "box text" "$(relay_box 2)" "$TEXT_DAMAGED"
check "box caption is the loader's full path" "$(relay_box 3 | sed 's/\\\\/\\/g')" "$LOADER_WIN"
check "box owner and style: none, MB_ICONERROR" "$(relay_box 1) $(relay_box 4)" "00000000 00000010"
check "exit code 0" "$(held exit)" 0
check "nothing written beside the loader" "$(ls "$CASE_DIR")" held.exe

# A temporary folder on a drive too small for the copy. The setup programs
# carry 2 MiB of zeros after their image (compressed to almost nothing), so
# the one write stops at 1 MiB; the copy is deleted before the message.
if mkdir -p "$SMALL_DRIVE" && mount -t tmpfs -o size=1m loader-e2e-small "$SMALL_DRIVE" 2>/dev/null; then
  ln -sfn "$SMALL_DRIVE" "$WINEPREFIX/dosdevices/t:"
  for bits in 32 64; do
    big=$PACKAGES/big$bits.exe
    probe_var=PROBE$bits
    cp "${!probe_var}" "$big"
    head -c 2097152 /dev/zero >>"$big"
  done
  large=$PACKAGES/large.exe
  make_package "$large" --setup32 "$PACKAGES/big32.exe" --setup64 "$PACKAGES/big64.exe" || e2e_finish
  new_case small-drive large.exe "$large"
  wine_reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ /d 'kernel32.WriteFile;kernel32.DeleteFileA' /f
  WINEDEBUG=+relay run_loader ' /temp T:\'
  wine_reg delete 'HKCU\Software\Wine\Debug' /v RelayInclude /f
  check_box "$TEXT_TEMP_FAILED"
  check_no_launch
  check_that "the copy was created and written with one write" \
    grep -aq 'Call KERNEL32.WriteFile([0-9a-f]*,[0-9a-f]*,0020[0-9a-f]\{4\},' "$CONTROL/boxreader.err"
  check_that "the short copy was deleted before the message" grep -aq 'Call KERNEL32.DeleteFileA([0-9a-f]* "T:\\\\large.exe")' "$CONTROL/boxreader.err"
  check "no partial copy on the small drive" "$(ls -A "$SMALL_DRIVE")" ""
  check "the drive is empty again" "$(df --output=used -k "$SMALL_DRIVE" | tail -1 | tr -d ' ')" 0
else
  echo "  skip small-drive: a tmpfs cannot be mounted here (root needed); the short write is shown in simulation"
fi

# A dictionary of 0x7FFFFFFF passes the loader's checks; its window cannot
# be had in a 32-bit process, so the process ends quietly with exit code 0.
huge=$PACKAGES/huge-dictionary.exe
make_package "$huge" --setup32 "$PROBE32" --setup64 "$PROBE64" --dictionary-size 2147483647 || e2e_finish
new_case huge-dictionary huge.exe "$huge"
mkdir -p "$CASE_DIR/tmp"
run_loader ' /temp C:\e2e\huge-dictionary\tmp'
check "no message box" "$(box_count)" 0
check "exit code 0" "$EXIT" 0
check_no_launch
check "no copy written" "$(ls -A "$CASE_DIR/tmp")" ""
# Once more without the debugger, with Wine's trace of exceptions: none is
# raised, and the exit code is 0.
(cd "$CASE_DIR" && WINEDEBUG=+seh timeout "$RUN_TIMEOUT" wine "$LOADER_WIN" /temp 'C:\e2e\huge-dictionary\tmp' \
  </dev/null >"$LOGS/huge-dictionary.seh.out" 2>"$LOGS/huge-dictionary.seh.txt")
check "exit code 0 without the debugger" "$?" 0
check "no exception raised" "$(grep -c 'seh:.*code=' "$LOGS/huge-dictionary.seh.txt")" 0

e2e_finish
