#!/usr/bin/env bash
# Runs a Windows test program inside a Wine virtual desktop of 1280x1024, where the
# display mode can be changed, and judges it by its XML report.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
report=$(mktemp --suffix=.xml)
trap 'rm -f "$report"' EXIT
program=$1
shift
"$here/../../scripts/wine-run.sh" explorer "/desktop=tovin-modes,1280x1024" "$program" "$@" \
  "--gtest_output=xml:Z:${report//\//\\}"
[ -s "$report" ] || { echo "no test report"; exit 1; }
grep -E "<testcase|<failure" "$report" | sed -E 's/^ +//' | cut -c1-300
grep -q 'failures="0"' "$report" && grep -q 'errors="0"' "$report"
