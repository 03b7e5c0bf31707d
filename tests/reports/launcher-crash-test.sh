#!/usr/bin/env bash
# Runs the launcher's crash and hang tests (LauncherCrashTests.cpp, through the wrappers
# and the program given as arguments), then reads the reports they kept with
# scripts/crash-report.py as support would, with the build's debug information: each
# names Launcher::run on the main thread; the crash says how the launcher died; the hang
# report is marked as one and says what was going on (the download, its URL and bytes).
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
program=${*: -2:1}
build=$(cd "$(dirname "$program")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "launcher crash: $*"; status=1; }

# std::terminate's place in the shipped program, from its symbols.
debug=$build/release/TovinLauncher.exe.debug
tool=$(x86_64-w64-mingw32-objdump -f "$debug" | grep -q 'pei-x86-64' && echo x86_64 || echo i686)-w64-mingw32
address=$("$tool-nm" "$debug" | awk '$2 == "T" && $3 ~ /^_+ZSt9terminatev$/ { print $1 }')
base=$("$tool-objdump" -p "$debug" | awk '$1 == "ImageBase" { print $2 }')
if [ -z "$address" ] || [ -z "$base" ]; then
  echo "no std::terminate in $debug"
  exit 1
fi
export TOVIN_TERMINATE_RVA TOVIN_CRASH_COPIES
TOVIN_TERMINATE_RVA=$(printf '%x' $((0x$address - 0x$base)))
TOVIN_CRASH_COPIES="Z:${work//\//\\}"

"$@" || status=1

read_report() { python3 "$root/scripts/crash-report.py" "$work/$1" --symbols "$build/release" >"$work/$1.txt" 2>&1; }
expect() { # REPORT LINE-PATTERN WHY
  grep -Eq "$2" "$work/$1.txt" || fail "$1: $3"
}
for report in bad-address.dmp terminate.dmp hang.dmp; do
  if [ ! -s "$work/$report" ]; then
    fail "no $report"
    continue
  fi
  read_report "$report" || fail "$report: crash-report.py failed"
  # The main thread's stack, up to the next thread's.
  sed -n '/^  [0-9]* (.*main.*):$/,/^  [0-9]*\( (.*)\)\?:$/p' "$work/$report.txt" | sed '$d' >"$work/$report.main"
  grep -q ' Launcher::run() at src/launcher/Launcher\.cpp:' "$work/$report.main" ||
    fail "$report: the main thread's stack does not name Launcher::run"
done
expect bad-address.dmp '^exception: 0xc0000005 EXCEPTION_ACCESS_VIOLATION$' "not an access violation"
expect bad-address.dmp '^  executing address 0x10$' "not an execution at 0x10"
expect bad-address.dmp '^  [0-9]+ \(faulted\):$' "the faulting thread is not listed apart from the main thread"
expect terminate.dmp '^exception: 0xe0544c01 std::terminate$' "not std::terminate"
expect terminate.dmp '^    #[0-9]+ .* onTerminate(\(\))? at src/reports/CrashHandlers\.cpp:' "no terminate handler on the stack"
expect hang.dmp '^report: hang$' "not marked as a hang"
expect hang.dmp '^  [0-9]+ \(hung, main\):$' "the main thread is not the hung one"
expect hang.dmp '^  main thread [0-9]+: last answered [1-9][0-9]\.[0-9] s before the report$' "no silence of 10 s or more"
expect hang.dmp '^    1\. HttpDownload, for [0-9.]+ s$' "no download under way"
expect hang.dmp '^       url: http://127\.0\.0\.1:[0-9]+/slow/100000/60$' "no URL"
expect hang.dmp '^       bytes written so far: [1-9][0-9]*$' "no bytes so far"
if [ $status != 0 ]; then
  for report in bad-address.dmp terminate.dmp hang.dmp; do
    [ -f "$work/$report.txt" ] && { echo "== $report"; head -n 60 "$work/$report.txt"; }
  done
fi
exit $status
