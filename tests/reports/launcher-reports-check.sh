#!/usr/bin/env bash
# Reads the shipped launcher's three test reports as support would, with
# scripts/crash-report.py and the launcher's debug file: bad-address.dmp (a thread started
# at 0x10), terminate.dmp (one started at std::terminate) and hang.dmp (the main thread
# stopped during a download). Each main thread names Launcher::run() and WinMain, in that
# order (once each on x86), every name demangled, no system module's scanned value passed off as
# checked; on x86, whose walk follows the frame pointers, no frame is listed twice. The
# hang report's main thread reads from the wait through the download to Launcher::run.
# Arguments: the folder of the reports and the folder of the debug file; files ending in
# .gz there are read unpacked (the real 32-bit reports in tests/reports/data are).
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "launcher reports: $*"; status=1; }

mkdir "$work/reports" "$work/symbols"
unpacked() { # FROM INTO: the files, .gz ones unpacked
  local file
  for file in "$1"/*; do
    case $file in
      *.gz) gunzip -c "$file" >"$2/$(basename "${file%.gz}")" ;;
      *.dmp | *.debug) cp "$file" "$2/" ;;
    esac
  done
}
unpacked "$1" "$work/reports"
unpacked "$2" "$work/symbols"

expect() { # REPORT LINE-PATTERN WHY
  grep -Eq "$2" "$work/$1.txt" || fail "$1: $3"
}
# The lines of the main thread that match each pattern, in this order: once each on x86;
# on x64, whose walk is the scan alone, a stale return address may name a frame again.
in_order() { # REPORT PATTERN...
  local report=$1 last=0 pattern lines
  shift
  for pattern in "$@"; do
    lines=$(grep -nE "$pattern" "$work/$report.main" | cut -d: -f1)
    grep -qx 'processor: x86' "$work/$report.txt" || lines=$(head -n 1 <<<"$lines")
    if [ "$(wc -w <<<"$lines")" != 1 ]; then
      fail "$report: the main thread has $(wc -w <<<"$lines") frames of $pattern, not one"
    elif [ "$lines" -le "$last" ]; then
      fail "$report: the main thread's $pattern comes before what calls it"
    else
      last=$lines
    fi
  done
}
frame='^    #[0-9]+ +0x[0-9a-f]+ [^ ]+\+0x[0-9a-f]+  '
for report in bad-address.dmp terminate.dmp hang.dmp; do
  if [ ! -s "$work/reports/$report" ]; then
    fail "no $report"
    continue
  fi
  python3 "$root/scripts/crash-report.py" "$work/reports/$report" --symbols "$work/symbols" >"$work/$report.txt" 2>&1 ||
    fail "$report: crash-report.py failed"
  # The main thread's stack, up to the next thread's.
  sed -n '/^  [0-9]* (.*main.*):$/,/^  [0-9]*\( (.*)\)\?:$/p' "$work/$report.txt" | sed '1d;$d' >"$work/$report.main"
  in_order "$report" "  Launcher::run\(\) at src/launcher/Launcher\.cpp:[0-9]+  " "  WinMain at src/launcher/main\.cpp:[0-9]+  "
  ! grep -Eq "$frame(_?_Z|[^ ]*@[0-9]+ at )" "$work/$report.txt" || fail "$report: a name is left mangled or decorated"
  ! grep -Eq '\.(dll|DLL)\+0x[0-9a-f]+  \[scan\]$' "$work/$report.txt" ||
    fail "$report: a scanned value in a system module, whose code the report lacks, is not called a guess"
  if grep -qx 'processor: x86' "$work/$report.txt"; then
    repeated=$(awk '{ print $2 }' "$work/$report.main" | sort | uniq -d | tr "\n" " ")
    [ -z "$repeated" ] || fail "$report: the main thread lists ${repeated}more than once"
  fi
done
expect bad-address.dmp '^exception: 0xc0000005 EXCEPTION_ACCESS_VIOLATION$' "not an access violation"
expect bad-address.dmp '^  executing address 0x10$' "not an execution at 0x10"
expect bad-address.dmp '^  [0-9]+ \(faulted\):$' "the faulting thread is not listed apart from the main thread"
expect terminate.dmp '^exception: 0xe0544c01 std::terminate$' "not std::terminate"
expect terminate.dmp '^    #[0-9]+ .* onTerminate(\(\))? at src/[a-z]+/CrashHandlers\.cpp:' "no terminate handler on the stack"
expect hang.dmp '^report: hang$' "not marked as a hang"
expect hang.dmp '^  [0-9]+ \(hung, main\):$' "the main thread is not the hung one"
expect hang.dmp '^  main thread [0-9]+: last answered [1-9][0-9]\.[0-9] s before the report$' "no silence of 10 s or more"
expect hang.dmp '^    1\. HttpDownload, for [0-9.]+ s$' "no download under way"
expect hang.dmp '^       url: http://127\.0\.0\.1:[0-9]+/slow/100000/60$' "no URL"
expect hang.dmp '^       bytes written so far: [1-9][0-9]*$' "no bytes so far"
# From the wait, the launcher's first frame, through the download to the message loop.
grep -E "$frame" "$work/hang.dmp.main" | grep -m 1 -F TovinLauncher.exe |
  grep -q '  win::ThreadWait::forAny(' || fail "hang.dmp: the main thread's first frame of the launcher is not its wait"
in_order hang.dmp "  win::ThreadWait::forAny\(" "  CLauncherServices::HttpDownload\(" "  Launcher::run\(\) at " "  WinMain at "
if [ $status != 0 ]; then
  for report in bad-address.dmp terminate.dmp hang.dmp; do
    [ -f "$work/$report.txt" ] && { echo "== $report"; head -n 60 "$work/$report.txt"; }
  done
fi
exit $status
