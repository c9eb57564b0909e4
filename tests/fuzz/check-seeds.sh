#!/usr/bin/env bash
# Runs the fuzz target once on every seed and checks that each ends in the
# outcome its name starts with ("started-...", "damaged-...") and that every
# outcome has a seed, so the judge is known to tell them apart.
#   check-seeds.sh FUZZ-BUILD-DIR
set -uo pipefail
build=$1
fuzzer=$build/whole-run-fuzz
seeds=$build/seeds
outcomes=(started damaged truncated tempcopyfailed launchfailed message outofmemory)
failures=0
declare -A reached=()
for seed in "$seeds"/*; do
  name=$(basename "$seed")
  want=${name%%-*}
  got=$(LOADER_FUZZ_SHOW_OUTCOME=1 "$fuzzer" -runs=1 "$seed" 2>"$build/check-seeds.err" | sed -n 's/^outcome //p' | head -1)
  if [ "$got" != "$want" ]; then
    echo "seed $name: outcome '${got:-none}', expected '$want'"
    tail -20 "$build/check-seeds.err"
    failures=$((failures + 1))
  fi
  [ -n "$got" ] && reached[$got]=1
done
for outcome in "${outcomes[@]}"; do
  [ -n "${reached[$outcome]:-}" ] || { echo "no seed reaches the outcome '$outcome'"; failures=$((failures + 1)); }
done
count=$(find "$seeds" -type f | wc -l)
if [ "$failures" -ne 0 ]; then
  echo "fuzz seeds: $failures problem(s)"
  exit 1
fi
echo "fuzz seeds: all $count seeds end as named; every outcome reached"
