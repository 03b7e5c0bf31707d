#!/usr/bin/env bash
# Runs each fuzz target of the host build over its seed corpus for a bounded time;
# any crash, sanitizer report, leak or memory beyond the limits fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
expected=(fuzz_amf_reader fuzz_remote_call)
for name in "${expected[@]}"; do
  [ -x "build/host/fuzz/$name" ] || { echo "fuzz: $name was not built (build the host preset with clang)" >&2; exit 1; }
done
per=$(( seconds / ${#expected[@]} )); [ "$per" -ge 5 ] || per=5
# A decoded 40 KiB body stays within a few MiB: a reservation that grows with the
# body's counts instead of its bytes trips these limits. The section image needs
# 16 header bytes and a 40960-byte body, and room for part of the listener table.
limits=(-malloc_limit_mb=64 -rss_limit_mb=512)
for name in "${expected[@]}"; do
  case $name in
    fuzz_remote_call) max_len=(-max_len=45056) ;;
    *) max_len=() ;;
  esac
  work=build/host/fuzz/corpus-$name
  mkdir -p "$work"
  echo "fuzz: $name for ${per}s"
  "build/host/fuzz/$name" -max_total_time="$per" -print_final_stats=0 -detect_leaks=1 \
    -artifact_prefix="build/host/fuzz/$name-" "${limits[@]}" "${max_len[@]}" "$work" "fuzz/corpus/${name#fuzz_}" 2>&1 | tail -n 3
done
