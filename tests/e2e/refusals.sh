#!/usr/bin/env bash
# End-to-end, 64-bit Windows: the package's refusal texts. A package that
# refuses 64-bit Windows, a Windows 10 release below the package's range
# (ReleaseId in the registry view the 32-bit loader reads), and a text with
# characters of code page 1252 and one it lacks.
#   refusals.sh BIN-DIR WORK-DIR
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" refusals
use_prefix 64

arch_text='This product needs 32-bit Windows.'
refuse64=$PACKAGES/refuse64.exe
make_package "$refuse64" --setup32 "$PROBE32" --refuse-64bit --architecture-text "$arch_text" || e2e_finish
for args in '' ' /32'; do
  new_case "refuse64${args:+-switch32}" refuse64.exe "$refuse64"
  run_loader "$args"
  check_box "$arch_text"
  check_no_launch
done

# Windows 10 with a release below MinReleaseId, and one inside the range.
set_windows_version win10
release=$PACKAGES/release.exe
make_package "$release" --setup32 "$PROBE32" --setup64 "$PROBE64" --release-ids 1903-65535 \
  --system-text 'Sorry, %USER% is too old for this product.' || e2e_finish
set_release_id 1809
new_case release-old release.exe "$release"
run_loader ''
check_box 'Sorry, Windows 10 1809 (October 2018 Update) is too old for this product.'
check_no_launch

set_release_id 2004
new_case release-inside release.exe "$release"
run_loader ''
check_ran_cleanly
check "64-bit build" "$(probe bits)" 64

# A text beyond ASCII: code page 1252 has é and €, it lacks the arrow, which
# becomes the default character.
set_release_id none
accents=$PACKAGES/accents.exe
make_package "$accents" --setup32 "$PROBE32" --setup64 "$PROBE64" --systems xp,vista,7,8,8.1 \
  --system-text 'Vérifiez : %USER% → 20 €' || e2e_finish
new_case accents accents.exe "$accents"
run_loader ''
check_box $'V\xe9rifiez : Windows 10 ? 20 \x80'
check_no_launch

set_windows_version default
e2e_finish
