# Shared harness of the end-to-end tests: the real loader.exe under Wine.
#
# A topic script sources this file, calls e2e_init, picks a prefix with
# use_prefix and runs cases:
#
#   make_package OUT [package-builder build options...]
#   new_case NAME LOADER-FILE-NAME PACKAGE   # C:\e2e\NAME\LOADER-FILE-NAME
#   run_loader [-deny-admins] ' /S alpha'    # the loader's command line is the
#                                            # quoted loader path + this text
#   check "what it shows" "$(box text)" "$TEXT_DAMAGED"
#
# run_loader goes through boxreader.exe, a small debugger that answers each
# MessageBoxA without showing it and reports its text, caption and style, and
# the arguments of CreateProcessA and ShellExecuteExA; the probe setup program
# records what it received. Every prefix used is ended with wineserver -k when
# the script exits, so no Wine process outlives the test.
#
# Exit code of a topic script: 0 all checks passed, 1 some failed, 77 skipped
# (loader.exe, package-builder, the probes or Wine missing).

set -u
export LC_ALL=C
unset DISPLAY WAYLAND_DISPLAY TEMP TMP
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all

E2E_SKIP=77
RUN_TIMEOUT=${E2E_RUN_TIMEOUT:-60}

# The loader's four fatal texts, as the topic scripts expect them.
# shellcheck disable=SC2034
TEXT_DAMAGED='An error occurred while trying to read the setup package.  It has most likely been damaged.  Please obtain a new copy from the vendor.'
# shellcheck disable=SC2034
TEXT_TRUNCATED='The setup package has been truncated.  You most likely have an incomplete download.  Try downloading it again.'
# shellcheck disable=SC2034
TEXT_TEMP_FAILED='An error occurred while trying to create a temporary copy of the setup package.  Please make sure that you have sufficient access rights to this computer to install software and that the Windows TEMP folder can be written to.  You can make this installer use a different folder for its temporary files using the /temp command line parameter followed by the path to a folder you can write to and run applications from.'
# shellcheck disable=SC2034
TEXT_LAUNCH_FAILED='The temporary copy of the setup package could not be executed.  Your system may have a software restriction policy in place that blocks executables in the temporary files folder.  You can make this installer use a different folder for its temporary files using the /temp command line parameter followed by the path to a folder you can write to and run applications from.'

FAILURES=0
CHECKS=0
USED_PREFIXES=()

skip() {
  echo "SKIP: $*"
  exit "$E2E_SKIP"
}

# e2e_init BIN-DIR WORK-DIR TOPIC: finds the artifacts (skips when one is
# missing) and prepares the topic's log folder WORK-DIR/logs/TOPIC.
e2e_init() {
  BIN_DIR=$(cd "$1" 2>/dev/null && pwd) || skip "no bin folder $1"
  WORK=$(mkdir -p "$2" && cd "$2" && pwd)
  TOPIC=$3
  LOADER=$BIN_DIR/loader.exe
  BUILDER=$BIN_DIR/package-builder
  PROBE32=$WORK/probe32.exe
  PROBE64=$WORK/probe64.exe
  BOXREADER=$WORK/boxreader.exe
  [ -f "$LOADER" ] || skip "loader.exe is not built ($LOADER); build the stub first"
  [ -x "$BUILDER" ] || skip "package-builder is not built ($BUILDER)"
  for f in "$PROBE32" "$PROBE64" "$BOXREADER"; do
    [ -f "$f" ] || skip "$(basename "$f") is not built ($f); MinGW missing?"
  done
  if ! command -v wine >/dev/null || ! command -v wineserver >/dev/null; then
    skip "Wine is not installed"
  fi
  command -v timeout >/dev/null || skip "timeout (coreutils) is missing"
  LOGS=$WORK/logs/$TOPIC
  PACKAGES=$WORK/packages/$TOPIC
  rm -rf "$LOGS" "$PACKAGES"
  mkdir -p "$LOGS" "$PACKAGES"
  trap e2e_cleanup EXIT
  echo "e2e $TOPIC: loader $LOADER"
}

e2e_cleanup() {
  local p
  for p in "${USED_PREFIXES[@]}"; do
    WINEPREFIX=$p wineserver -k >/dev/null 2>&1
  done
  for p in "${USED_PREFIXES[@]}"; do
    WINEPREFIX=$p timeout 20 wineserver -w >/dev/null 2>&1
  done
}

# e2e_finish: prints the summary; the script's exit code.
e2e_finish() {
  if [ "$FAILURES" -eq 0 ]; then
    echo "e2e $TOPIC: all $CHECKS checks passed"
    exit 0
  fi
  echo "e2e $TOPIC: $FAILURES of $CHECKS checks FAILED (logs in $LOGS)"
  exit 1
}

# use_prefix 64|32: a 64-bit Windows (the loader runs under WOW64) or a
# 32-bit one, made on first use under WORK and kept for later runs. Starts a
# persistent wineserver (ended by e2e_cleanup), resets the emulated Windows
# version and the ReleaseId, and sets C_DRIVE and TEMP_WIN / TEMP_DIR, the
# folder GetTempPathA names.
use_prefix() {
  case $1 in
    64) export WINEPREFIX=$WORK/prefix64; unset WINEARCH ;;
    32) export WINEPREFIX=$WORK/prefix32; export WINEARCH=win32 ;;
    *) echo "use_prefix: 64 or 32" >&2; exit 2 ;;
  esac
  USED_PREFIXES+=("$WINEPREFIX")
  if [ ! -f "$WINEPREFIX/.e2e-ready" ]; then
    echo "making the $1-bit Wine prefix $WINEPREFIX (once, about 15 s)"
    rm -rf "$WINEPREFIX"
    timeout 300 wineboot -i </dev/null >"$LOGS/wineboot.log" 2>&1 || { echo "wineboot failed:"; tail -20 "$LOGS/wineboot.log"; exit 1; }
    timeout 120 wineserver -w
    touch "$WINEPREFIX/.e2e-ready"
  fi
  wineserver -p </dev/null >/dev/null 2>&1
  C_DRIVE=$WINEPREFIX/drive_c
  set_windows_version default
  set_release_id none
  TEMP_WIN=$(timeout "$RUN_TIMEOUT" wine cmd /c 'echo %TMP%' </dev/null 2>/dev/null | tr -d '\r\n')
  TEMP_WIN=${TEMP_WIN%\\}
  TEMP_DIR=$(unix_path "$TEMP_WIN")
  [ -d "$TEMP_DIR" ] || { echo "cannot find the prefix's temporary folder ($TEMP_WIN)"; exit 1; }
  rm -rf "$C_DRIVE/e2e" "$C_DRIVE/e2e-control"
  mkdir -p "$C_DRIVE/e2e" "$C_DRIVE/e2e-control"
}

wine_reg() {
  timeout "$RUN_TIMEOUT" wine reg "$@" </dev/null >>"$LOGS/reg.log" 2>&1
}

# set_windows_version win95|...|winxp|...|win10|default: the Version value
# under HKCU\Software\Wine, which sets what GetVersionExA reports.
set_windows_version() {
  if [ "$1" = default ]; then
    wine_reg delete 'HKCU\Software\Wine' /v Version /f
  else
    wine_reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d "$1" /f || { echo "cannot set the Windows version $1"; exit 1; }
  fi
}

# set_release_id TEXT|none: ReleaseId under HKLM\...\Windows NT\CurrentVersion
# in the 32-bit registry view, the one the 32-bit loader reads (under WOW64
# that is Wow6432Node).
set_release_id() {
  local key='HKLM\Software\Microsoft\Windows NT\CurrentVersion'
  if [ "$1" = none ]; then
    wine_reg delete "$key" /v ReleaseId /f /reg:32
  else
    wine_reg add "$key" /v ReleaseId /t REG_SZ /d "$1" /f /reg:32 || { echo "cannot set ReleaseId $1"; exit 1; }
  fi
}

# unix_path WINDOWS-PATH: the host path of a path on C: (the prefix) or Z:.
unix_path() {
  local p=$1 rest
  rest=${p:3}
  rest=${rest//\\//}
  case ${p:0:2} in
    [Cc]:) printf '%s/%s' "$C_DRIVE" "$rest" ;;
    [Zz]:) printf '/%s' "$rest" ;;
    *) printf '%s' "$p" ;;
  esac
}

# make_package OUT [options...]: package-builder build around loader.exe.
make_package() {
  local out=$1
  shift
  if ! "$BUILDER" build --stub "$LOADER" "$@" -o "$out" >"$LOGS/$(basename "$out").build.log" 2>&1; then
    echo "package-builder failed for $(basename "$out"):"
    cat "$LOGS/$(basename "$out").build.log"
    FAILURES=$((FAILURES + 1))
    return 1
  fi
}

# new_case NAME LOADER-NAME PACKAGE: puts PACKAGE into the fresh folder
# C:\e2e\NAME as LOADER-NAME. Sets CASE, CASE_WIN, CASE_DIR, LOADER_WIN,
# LOADER_FILE and CONTROL (a folder outside the loader's for the harness's
# files).
new_case() {
  CASE=$1
  CASE_WIN="C:\\e2e\\$CASE"
  CASE_DIR=$C_DRIVE/e2e/$CASE
  LOADER_WIN="$CASE_WIN\\$2"
  LOADER_FILE=$CASE_DIR/$2
  CONTROL=$C_DRIVE/e2e-control/$CASE
  CONTROL_WIN="C:\\e2e-control\\$CASE"
  CASE_FAILED=
  rm -rf "$CASE_DIR" "$CONTROL"
  mkdir -p "$CASE_DIR" "$CONTROL"
  cp "$3" "$LOADER_FILE"
  echo "case $CASE"
}

# run_loader [-deny-admins] ARGUMENTS: runs the loader of the current case
# under boxreader with the command line "LOADER_WIN"ARGUMENTS, byte for byte.
# With -deny-admins the loader's token has the Administrators group for deny
# only (a user without administrator rights). Sets RUN_RC (boxreader's exit
# code, 124 on time-out) and EXIT (the loader's exit code, empty if unknown).
run_loader() {
  local option=()
  if [ "$1" = -deny-admins ]; then option=(-deny-admins); shift; fi
  printf '"%s"%s' "$LOADER_WIN" "$1" >"$CONTROL/cmdline"
  rm -f "$CONTROL/probe.txt"
  LOADER_PROBE_OUT="$CONTROL_WIN\\probe.txt" timeout "$RUN_TIMEOUT" \
    wine "$BOXREADER" "${option[@]}" "$CONTROL_WIN\\cmdline" \
    </dev/null >"$CONTROL/boxreader.txt" 2>"$CONTROL/boxreader.err"
  RUN_RC=$?
  EXIT=$(sed -n 's/^exit=//p' "$CONTROL/boxreader.txt" | tr -d '\r')
  cp "$CONTROL/cmdline" "$LOGS/$CASE.cmdline"
  cp "$CONTROL/boxreader.txt" "$LOGS/$CASE.boxreader.txt"
  cp "$CONTROL/boxreader.err" "$LOGS/$CASE.boxreader.err"
}

# report KEY [N]: the Nth (default first) value of KEY in boxreader's output,
# as the exact bytes (boxreader escapes them; printf %b undoes that).
report() {
  local value
  value=$(grep -a "^$1=" "$CONTROL/boxreader.txt" | sed -n "${2:-1}p" | tr -d '\r')
  value=${value#*=}
  printf '%b' "$value"
}

box() { report "MessageBoxA.$1" "${2:-1}"; }
box_count() { grep -ac '^MessageBoxA.text=' "$CONTROL/boxreader.txt"; }

# probe KEY: a value the probe recorded (empty if it did not run).
probe() {
  [ -f "$CONTROL/probe.txt" ] || return 0
  sed -n "s/^$1=//p" "$CONTROL/probe.txt" | head -1 | tr -d '\r'
}

# wait_for_probe SECONDS: waits for the probe's record; true when it came.
wait_for_probe() {
  local i
  for ((i = 0; i < $1 * 10; i++)); do
    [ -f "$CONTROL/probe.txt" ] && return 0
    sleep 0.1
  done
  return 1
}

shown() {
  printf '%s' "$1" | cat -v
}

fail_details() {
  if [ -z "$CASE_FAILED" ]; then
    CASE_FAILED=1
    echo "       --- command line: $(shown "$(cat "$CONTROL/cmdline" 2>/dev/null)")"
    echo "       --- boxreader (rc ${RUN_RC:-?}):"
    sed 's/^/       | /' "$CONTROL/boxreader.txt" 2>/dev/null | cut -c1-400
    sed 's/^/       ! /' "$CONTROL/boxreader.err" 2>/dev/null | head -20
    echo "       --- probe:"
    sed 's/^/       | /' "$CONTROL/probe.txt" 2>/dev/null
  fi
}

# check WHAT ACTUAL EXPECTED: one comparison, byte for byte.
check() {
  CHECKS=$((CHECKS + 1))
  if [ "$2" == "$3" ]; then
    echo "  ok   $1"
  else
    FAILURES=$((FAILURES + 1))
    echo "  FAIL $1"
    echo "       expected: $(shown "$3")"
    echo "       actual:   $(shown "$2")"
    fail_details
  fi
}

# check_that WHAT COMMAND...: passes when COMMAND succeeds.
check_that() {
  local what=$1
  shift
  CHECKS=$((CHECKS + 1))
  if "$@"; then
    echo "  ok   $what"
  else
    FAILURES=$((FAILURES + 1))
    echo "  FAIL $what"
    fail_details
  fi
}

# check_box TEXT: exactly one message box, with TEXT, the loader's full path
# as caption, no owner and MB_ICONERROR alone; the loader ended with 0.
check_box() {
  check "one message box" "$(box_count)" 1
  check "box text" "$(box text)" "$1"
  check "box caption is the loader's full path" "$(box caption)" "$LOADER_WIN"
  check "box style MB_ICONERROR" "$(box style)" 0x00000010
  check "box has no owner" "$(box owner)" 0x00000000
  check "exit code 0" "$EXIT" 0
}

# check_no_launch: nothing was started and no probe ran.
check_no_launch() {
  check "nothing started" "$(report CreateProcessA.cmdline)$(report ShellExecuteExA.file)" ""
  check "probe did not run" "$(probe bits)" ""
}

# check_ran_cleanly: no box, exit code 0, the probe recorded its start.
check_ran_cleanly() {
  check "no message box" "$(box_count)" 0
  check "exit code 0" "$EXIT" 0
  check "probe ran" "$(probe 'done')" 1
}

absent() { [ ! -e "$1" ]; }
present() { [ -e "$1" ]; }
