#!/usr/bin/env bash
# End-to-end, 64-bit Windows (the loader under WOW64): which build runs, the
# command line, current directory and temporary copy the setup program gets,
# the detached start, and the shell road of a user without administrator
# rights.
#   launch.sh BIN-DIR WORK-DIR
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" launch
use_prefix 64

both=$PACKAGES/both.exe
make_package "$both" --setup32 "$PROBE32" --setup64 "$PROBE64" || e2e_finish

# The loader's command line of the worked example: a pair of double quotes
# passes nothing, two spaces count as one separator, the loader's switches
# are passed on, and the loader's own path goes first, always quoted.
new_case example setup.exe "$both"
mkdir -p "$C_DRIVE/e2e/scratch"
run_loader ' /S alpha "two words"  ""  /temp C:\e2e\scratch'
check_ran_cleanly
check "64-bit Windows runs the 64-bit build" "$(probe bits)" 64
check "setup program's command line" "$(probe cmdline)" \
  '"C:\e2e\scratch\setup.exe" "C:\e2e\example\setup.exe" /S alpha "two words" /temp C:\e2e\scratch'
check "started directly with that command line" "$(report CreateProcessA.cmdline)" "$(probe cmdline)"
check "no application name" "$(report CreateProcessA.application)" "<null>"
check "current directory given: the loader's folder" "$(report CreateProcessA.directory)" 'C:\e2e\example\'
check "setup program's current directory" "$(probe cwd)" 'C:\e2e\example'
check "setup program runs from the copy" "$(probe self)" 'C:\e2e\scratch\setup.exe'
check "STARTUPINFOA.cb" "$(report CreateProcessA.startupinfo.cb)" 68
check_that "copy is gone after the loader ends" absent "$C_DRIVE/e2e/scratch/setup.exe"
check_that "loader file untouched" cmp -s "$both" "$LOADER_FILE"

# "/32" keeps the 32-bit build on 64-bit Windows; without "/temp" the copy
# goes to the folder GetTempPathA names.
new_case switch32 pick32.exe "$both"
rm -f "$TEMP_DIR"/pick32*.exe
run_loader ' /32'
check_ran_cleanly
check "/32 runs the 32-bit build" "$(probe bits)" 32
check "copy in the temporary folder" "$(probe self)" "$TEMP_WIN\\pick32.exe"
check "setup program's command line" "$(probe cmdline)" "\"$TEMP_WIN\\pick32.exe\" \"$LOADER_WIN\" /32"
check_that "copy is gone after the loader ends" absent "$TEMP_DIR/pick32.exe"

# "/temp" as the last argument: the copy goes to the loader's own folder,
# where the loader's name is taken by the loader itself, so it is numbered.
new_case templast setup.exe "$both"
run_loader ' /temp'
check_ran_cleanly
check "copy in the loader's folder, numbered" "$(probe self)" 'C:\e2e\templast\setup2.exe'
check "setup program's command line" "$(probe cmdline)" '"C:\e2e\templast\setup2.exe" "C:\e2e\templast\setup.exe" /temp'
check_that "copy is gone after the loader ends" absent "$CASE_DIR/setup2.exe"
check_that "the loader itself stays" present "$LOADER_FILE"

# A name taken in the temporary folder, by a file and by a folder.
new_case numbered taken.exe "$both"
rm -rf "$TEMP_DIR"/taken*.exe
echo "not the loader's" >"$TEMP_DIR/taken.exe"
mkdir "$TEMP_DIR/taken2.exe"
run_loader ''
check_ran_cleanly
check "copy numbered past the taken names" "$(probe self)" "$TEMP_WIN\\taken3.exe"
check "no arguments: the quoted loader path alone" "$(probe cmdline)" "\"$TEMP_WIN\\taken3.exe\" \"$LOADER_WIN\""
check_that "copy is gone after the loader ends" absent "$TEMP_DIR/taken3.exe"
check "the file of the taken name is left alone" "$(cat "$TEMP_DIR/taken.exe")" "not the loader's"
rm -rf "$TEMP_DIR"/taken*.exe

# DetachedFileSize set: the loader neither waits nor deletes the copy.
detached=$PACKAGES/detached.exe
make_package "$detached" --setup32 "$PROBE32" --setup64 "$PROBE64" --detached || e2e_finish
new_case detached detached.exe "$detached"
mkdir -p "$CASE_DIR/tmp"
LOADER_PROBE_SLEEP=3000 run_loader ' /temp C:\e2e\detached\tmp'
check "exit code 0" "$EXIT" 0
check "no message box" "$(box_count)" 0
check "setup program started" "$(report CreateProcessA.cmdline)" \
  '"C:\e2e\detached\tmp\detached.exe" "C:\e2e\detached\detached.exe" /temp C:\e2e\detached\tmp'
check_that "loader returned before the setup program ended" absent "$CONTROL/probe.txt"
check_that "setup program runs on after the loader" wait_for_probe 30
check_that "copy remains" present "$CASE_DIR/tmp/detached.exe"

# The shell road: Windows 6 or later and a user outside the Administrators
# group (the loader's token has the group for deny only).
new_case shell-open user.exe "$both"
run_loader -deny-admins ' one'
check_ran_cleanly
check "not started directly" "$(report CreateProcessA.cmdline)" ""
check "ShellExecuteExA record size" "$(report ShellExecuteExA.size)" 60
check "SEE_MASK_NOCLOSEPROCESS" "$(report ShellExecuteExA.mask)" 0x00000040
check "verb open" "$(report ShellExecuteExA.verb)" open
check "file: the copy, unquoted" "$(report ShellExecuteExA.file)" "$TEMP_WIN\\user.exe"
check "parameters end with /noadmin" "$(report ShellExecuteExA.parameters)" "\"$LOADER_WIN\" one /noadmin"
check "no directory" "$(report ShellExecuteExA.directory)" "<null>"
check "SW_SHOW" "$(report ShellExecuteExA.show)" 5
check "setup program got /noadmin" "$(probe cmdline)" "\"$TEMP_WIN\\user.exe\" \"$LOADER_WIN\" one /noadmin"
check_that "copy is gone after the loader ends" absent "$TEMP_DIR/user.exe"

# Silent with ElevationMode 1: "runas", the arguments unchanged.
runas=$PACKAGES/runas.exe
make_package "$runas" --setup32 "$PROBE32" --setup64 "$PROBE64" --elevation 1 || e2e_finish
new_case shell-runas quiet.exe "$runas"
run_loader -deny-admins ' /SILENT'
check_ran_cleanly
check "verb runas" "$(report ShellExecuteExA.verb)" runas
check "parameters unchanged" "$(report ShellExecuteExA.parameters)" "\"$LOADER_WIN\" /SILENT"
check "64-bit build" "$(probe bits)" 64
check_that "copy is gone after the loader ends" absent "$TEMP_DIR/quiet.exe"

e2e_finish
