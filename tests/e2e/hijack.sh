#!/usr/bin/env bash
# End-to-end, 64-bit Windows: DLLs planted beside the loader under the names
# of system DLLs, as a download folder may hold them, are not loaded. The
# loader restricts the DLL search to the system folder before its code loads
# anything (SetDefaultDllDirectories), and loads mpr.dll, the one DLL it loads
# itself, by its full path in the system folder.
#
# The planted DLL creates "<its path>.loaded" when a process runs it. Wine
# prefers its own builtin DLLs; WINEDLLOVERRIDES=mpr=n,b makes it prefer a
# native mpr.dll wherever the search finds one, as Windows does, so a plant
# that the search reached would run. Wine's trace of loaded DLLs (+loaddll)
# says which file each DLL came from, and the relay trace which calls the
# loader made to load or restrict DLLs.
#   hijack.sh BIN-DIR WORK-DIR
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" hijack
PLANTED=$WORK/planted.dll
SEARCHER=$WORK/searcher.exe
for f in "$PLANTED" "$SEARCHER"; do
  [ -f "$f" ] || skip "$(basename "$f") is not built ($f); MinGW missing?"
done
use_prefix 64

PLANTS=(mpr.dll version.dll)
plant() {
  local dll
  for dll in "${PLANTS[@]}"; do cp "$PLANTED" "$CASE_DIR/$dll"; done
}
# planted_runs: the planted DLLs that some process ran.
planted_runs() {
  local dll
  for dll in "${PLANTS[@]}"; do [ -e "$CASE_DIR/$dll.loaded" ] && printf '%s ' "$dll"; done
}
# trace_of THREAD-OR-EMPTY FILE: the trace lines of one Wine thread.
trace_of() { grep -a "^$1:" "$2"; }
# loaded_from TRACE DLL: the files the trace loaded DLL from, one per line.
loaded_from() {
  printf '%s\n' "$1" | grep -ai "Loaded L\"[^\"]*\\\\\\\\$2\"" | sed 's/^.*Loaded L"\([^"]*\)".*$/\1/' |
    sed 's/\\\\/\\/g' | sort -u
}

# Control: a careless program that loads the two DLLs by bare name, with the
# ordinary search that starts in its own folder, runs the planted copies.
new_case control searcher.exe "$SEARCHER"
plant
(cd "$CASE_DIR" && WINEDLLOVERRIDES="$WINEDLLOVERRIDES;mpr,version=n,b" WINEDEBUG=+loaddll \
  timeout "$RUN_TIMEOUT" wine "$LOADER_WIN" mpr.dll version.dll </dev/null >"$LOGS/control.txt" 2>&1)
check "a careless program runs both planted DLLs" "$(planted_runs)" "mpr.dll version.dll "
check "it took mpr.dll from its own folder" "$(loaded_from "$(cat "$LOGS/control.txt")" mpr.dll)" "$CASE_WIN\\mpr.dll"

good=$PACKAGES/good.exe
make_package "$good" --setup32 "$PROBE32" --setup64 "$PROBE64" || e2e_finish

# The loader beside the planted DLLs, on the direct road and on the shell
# road (a user without administrator rights: ShellExecuteExA does its work,
# loading more of Windows into the loader's process).
wine_reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
  /d 'kernel32.SetDefaultDllDirectories;kernel32.SetDllDirectoryA;kernel32.LoadLibraryA;kernel32.LoadLibraryExA' /f
for road in direct shell; do
  new_case "planted-$road" setup.exe "$good"
  plant
  options=()
  [ "$road" = shell ] && options=(-deny-admins)
  WINEDLLOVERRIDES="$WINEDLLOVERRIDES;mpr=n,b" WINEDEBUG=+loaddll,+relay run_loader "${options[@]}" ''
  check_ran_cleanly
  check "no planted DLL ran" "$(planted_runs)" ""
  # The loader's own thread: the one that loaded its image.
  thread=$(grep -a "Loaded L\"C:\\\\\\\\e2e\\\\\\\\planted-$road\\\\\\\\setup.exe\"" "$CONTROL/boxreader.err" | head -1 | cut -d: -f1)
  trace=$(trace_of "$thread" "$CONTROL/boxreader.err")
  calls=$(printf '%s\n' "$trace" | sed -n 's/^[0-9a-f]*:Call KERNEL32\.\([A-Za-z]*\)(\([^)]*\)).*$/\1(\2)/p')
  check "first the DLL search is restricted to the system folder" "$(printf '%s\n' "$calls" | head -1)" \
    'SetDefaultDllDirectories(00000800)'
  check "and Windows accepts it" \
    "$(printf '%s\n' "$trace" | grep -a -m1 'Ret  KERNEL32.SetDefaultDllDirectories()' | sed 's/^.*retval=\([0-9a-f]*\).*$/\1/')" 00000001
  check "the loader loads nothing but mpr.dll, by its full path" \
    "$(printf '%s\n' "$calls" | grep -v '^SetDefaultDllDirectories' | sed 's/^LoadLibraryA([0-9a-f]* "\(.*\)")$/\1/')" \
    'C:\\windows\\system32\\mpr.dll'
  check "mpr.dll came from the system folder" "$(loaded_from "$trace" mpr.dll)" 'C:\windows\system32\mpr.dll'
done
wine_reg delete 'HKCU\Software\Wine\Debug' /v RelayInclude /f

e2e_finish
