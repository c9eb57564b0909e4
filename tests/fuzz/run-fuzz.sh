#!/usr/bin/env bash
# Runs the whole-run fuzz target for a given time from the seed corpus and
# the corpus kept in the build folder, then prints the figures: executions,
# corpus size, findings. Exit code 1 when libFuzzer kept a finding (a crash,
# a judged bad end, a time-out, a leak, memory beyond the limit).
#   run-fuzz.sh FUZZ-BUILD-DIR SECONDS [JOBS]
set -uo pipefail
build=$(cd "$1" && pwd)
seconds=$2
jobs=${3:-1}
corpus=$build/corpus
findings=$build/findings
log=$build/fuzz.log
mkdir -p "$corpus" "$findings"
before=$(find "$findings" -type f | wc -l)

# One run of the loader takes well under a millisecond; ten seconds is a hang.
# ASan's own malloc limit stands above the simulated heap's 64 MiB.
options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=3072 -malloc_limit_mb=1024
         -max_len=262144 -dict="$(dirname "$0")/whole-run.dict" -print_final_stats=1
         -artifact_prefix="$findings/")
echo "fuzz: ${seconds}s, $jobs job(s), corpus $corpus (log $log)"
if [ "$jobs" -gt 1 ]; then
  "$build/whole-run-fuzz" "${options[@]}" -fork="$jobs" -ignore_crashes=1 "$corpus" "$build/seeds" >"$log" 2>&1
else
  "$build/whole-run-fuzz" "${options[@]}" "$corpus" "$build/seeds" >"$log" 2>&1
fi
rc=$?

runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
[ -n "$runs" ] || runs=$(grep -Eo '^#[0-9]+' "$log" | tail -1 | tr -d '#')
size=$(find "$corpus" -type f | wc -l)
after=$(find "$findings" -type f | wc -l)
echo "fuzz: ${runs:-?} executions, corpus $size inputs, $((after - before)) new finding(s), libFuzzer exit code $rc"
if [ "$after" -gt "$before" ] || [ "$rc" -ne 0 ]; then
  grep -E 'FINDING|ERROR|SUMMARY|Test unit written' "$log" | head -20
  exit 1
fi
