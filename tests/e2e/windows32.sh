#!/usr/bin/env bash
# End-to-end, 32-bit Windows (no WOW64): the 32-bit build runs, a package
# without one is refused with its architecture text, and Windows XP excluded
# by the package is refused with its system text.
#   windows32.sh BIN-DIR WORK-DIR
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" windows32
use_prefix 32

both=$PACKAGES/both.exe
make_package "$both" --setup32 "$PROBE32" --setup64 "$PROBE64" || e2e_finish
new_case both setup.exe "$both"
run_loader ' "a b"'
check_ran_cleanly
check "32-bit Windows runs the 32-bit build" "$(probe bits)" 32
check "setup program's command line" "$(probe cmdline)" "\"$TEMP_WIN\\setup.exe\" \"$LOADER_WIN\" \"a b\""
check "setup program's current directory" "$(probe cwd)" "$CASE_WIN"
check_that "copy is gone after the loader ends" absent "$TEMP_DIR/setup.exe"

arch_text='This product needs 64-bit Windows.'
only64=$PACKAGES/only64.exe
make_package "$only64" --setup64 "$PROBE64" --architecture-text "$arch_text" || e2e_finish
for args in '' ' /32'; do
  new_case "only64${args:+-switch32}" only64.exe "$only64"
  run_loader "$args"
  check_box "$arch_text"
  check_no_launch
done

set_windows_version winxp
system_text='%USER% is not supported.  %user% users: please upgrade.'
noxp=$PACKAGES/noxp.exe
make_package "$noxp" --setup32 "$PROBE32" --setup64 "$PROBE64" --systems vista,7,8,8.1,10,later \
  --system-text "$system_text" || e2e_finish
new_case winxp noxp.exe "$noxp"
run_loader ''
check_box 'Windows XP is not supported.  Windows XP users: please upgrade.'
check_no_launch

# Fitting neither the architecture nor the version: the architecture text.
only64noxp=$PACKAGES/only64noxp.exe
make_package "$only64noxp" --setup64 "$PROBE64" --systems vista,7,8,8.1,10,later \
  --architecture-text "$arch_text" --system-text "$system_text" || e2e_finish
new_case only64-winxp only64noxp.exe "$only64noxp"
run_loader ''
check_box "$arch_text"
check_no_launch

set_windows_version default
e2e_finish
