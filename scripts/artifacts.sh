# Sourced by the scripts that run the built loader under Wine (demo,
# screenshot): finds what the build made, or stops with what to build.
#
#   find_artifacts NAME BIN-DIR BUILD-DIR
#
# sets `top`, `bin` (loader.exe, package-builder), `build` and `e2e` (the
# probe setup programs and boxreader of the host build), and defines `fail`,
# which prints "NAME: message" and exits 1.
find_artifacts() {
  script_name=$1
  top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  bin=${2:-${LOADER_BIN_DIR:-$top/build/bin}}
  build=${3:-${LOADER_BUILD_DIR:-$top/build}}
  bin=$(cd "$bin" && pwd)
  build=$(cd "$build" && pwd)
  e2e=
  local dir
  for dir in "$build/host/e2e" "$build/e2e"; do
    if [ -f "$dir/probe64.exe" ]; then e2e=$dir; break; fi
  done
  [ -f "$bin/loader.exe" ] || fail "no $bin/loader.exe: build the stub first (make build)"
  [ -x "$bin/package-builder" ] || fail "no $bin/package-builder: build the host tree first (make build)"
  [ -n "$e2e" ] || fail "no probe setup programs under $build/host/e2e: build the host tree first (make build)"
  command -v wine >/dev/null || fail "Wine is not installed (scripts/setup.sh installs it)"
}

fail() { echo "$script_name: $*" >&2; exit 1; }
