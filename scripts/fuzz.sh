#!/usr/bin/env bash
# Runs each fuzz target of the host build over its seed corpus for a bounded time;
# any crash, sanitizer report or leak fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shopt -s nullglob
targets=(build/host/fuzz/fuzz_*)
[ ${#targets[@]} -gt 0 ] || { echo "fuzz: no targets built"; exit 0; }
per=$(( seconds / ${#targets[@]} )); [ "$per" -ge 5 ] || per=5
for target in "${targets[@]}"; do
  name=$(basename "$target")
  work=build/host/fuzz/corpus-$name
  mkdir -p "$work"
  echo "fuzz: $name for ${per}s"
  "$target" -max_total_time="$per" -print_final_stats=0 -detect_leaks=1 "$work" "fuzz/corpus/${name#fuzz_}" 2>&1 | tail -n 3
done
