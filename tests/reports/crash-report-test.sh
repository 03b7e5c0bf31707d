#!/usr/bin/env bash
# A crash leaves a report that support can read, and then goes on to the system:
# crash_probe (the launcher's crash handlers and display service, every allocation
# refused from the crash on) switches the display in a virtual desktop and faults in a
# known function. Its report lies in CrashReports with the newest older ones, kCrashReportsKept in all (hang
# reports and other files untouched, a report cut short removed), and
# scripts/crash-report.py names the function and its line, and walks the stacks. A fault
# inside the report is left to the system too; a process heap locked for ever by another
# thread does not hold the crash back. The crash path's stack fits what each thread keeps
# for it. An x86 dump as the 32-bit launcher's would be has its stack walked by frame
# pointers and by scan. A file that is no minidump, or one cut short, gets one line and
# exit code 2.
# Argument: the build folder.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "$1" && pwd)
version=$(sed -n 's/^project(TovinLauncher VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
work=$(mktemp -d)
aedebug='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
wine_run() { "$root/scripts/wine-run.sh" "$@" | tr -d '\r'; }
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
trap 'wine_run reg add "$aedebug" /v Debugger /d "" /f >/dev/null; rm -rf "$work"' EXIT
status=0
fail() { echo "crash report: $*"; status=1; }
report_py() { python3 "$root/scripts/crash-report.py" "$@"; }

local_app_data=$(wine_run cmd /c echo %LOCALAPPDATA% | tail -n 1)
reports=$(wine_run winepath -u "$local_app_data" | tail -n 1)/TovinLauncher/CrashReports
if [ -z "$local_app_data" ] || [ "${reports#/}" = "$reports" ]; then
  echo "no LOCALAPPDATA in the Wine prefix"
  exit 1
fi
rm -rf "$reports"
mkdir -p "$reports"
# One more old crash report than are kept: the new one and the newest of the old ones stay.
kept=$(sed -n 's/.*kCrashReportsKept = \([0-9]*\);.*/\1/p' "$root/src/reports/CrashReport.h")
[ -n "$kept" ] || { echo "no kCrashReportsKept in src/reports/CrashReport.h"; exit 1; }
old_crash() { printf 'TovinLauncher-0.9.0-202601%02d-120000-4%d.dmp' "$1" "$1"; }
for day in $(seq "$((kept + 1))"); do
  touch -d "2026-01-$(printf %02d "$day")" "$reports/$(old_crash "$day")"
done
for day in 1 2 3; do
  touch -d "2026-01-0$day" "$reports/TovinLauncher-0.9.0-2026010$day-130000-5$day-hang.dmp"
done
touch -d 2026-01-01 "$reports/notes.txt" "$reports/TovinLauncher-0.9.0-20260101-140000-61.dmp.part"

# The system's own handling of a crash starts the AeDebug debugger: a witness that notes
# each process whose crash reached it.
cp "$build/crash_probe.exe" "$work/"
wine_run reg add "$aedebug" /v Debugger /d "\"$(windows_path "$work/crash_probe.exe")\" witness $(windows_path "$work/witness.txt") %ld %ld" \
  /f >/dev/null
# A fault inside the report is the system's too; what it cut short goes at the next report.
(cd "$work" && wine_run crash_probe.exe switched.txt fault-in-report >/dev/null)
[ "$(wc -l <"$work/witness.txt" 2>/dev/null)" = 1 ] || fail "a fault inside the report was not left to the system"
(cd "$work" && wine_run explorer "/desktop=tovin-crash,1280x1024" crash_probe.exe switched.txt fault >/dev/null)
[ "$(tr -d '\r' <"$work/switched.txt" 2>/dev/null)" = 800x600 ] || fail "the probe did not switch the display first"
[ "$(wc -l <"$work/witness.txt" 2>/dev/null)" = 2 ] || fail "the crash did not go on to the system's own handling"
mapfile -t left < <(cd "$reports" && ls)
report=$(printf '%s\n' "${left[@]}" | grep -E "^TovinLauncher-$version-[0-9]{8}-[0-9]{6}-[0-9]+\.dmp\$")
# Another thread holds the heap, which the report needs, for ever: the wait for the report
# gives up (after 10 s without progress) and the crash goes on (the probe then ends itself
# with 7, Wine's own handling needing the heap as well).
(cd "$work" && timeout 60 "$root/scripts/wine-run.sh" crash_probe.exe switched.txt heap-locked >/dev/null)
code=$?
[ $code = 7 ] || fail "with the heap locked the crash was held back (exit code $code)"

mapfile -t now < <(cd "$reports" && find . -mindepth 1 -printf '%P\n' | grep -vxF "$report")
expected="notes.txt"
for day in $(seq 3 "$((kept + 1))"); do expected+=" $(old_crash "$day")"; done
for day in 1 2 3; do expected+=" TovinLauncher-0.9.0-2026010$day-130000-5$day-hang.dmp"; done
[ "$(printf '%s\n' "${now[@]}" | sort | tr '\n' ' ')" = "$(tr ' ' '\n' <<<"$expected" | sort | tr '\n' ' ')" ] ||
  fail "CrashReports holds: ${left[*]} then: ${now[*]}"

# How deep below a fault the crash path reaches (the exception's dispatch, the launcher's
# filter and its wait for the report): within the stack every thread keeps for it.
(cd "$work" && timeout 90 "$root/scripts/wine-run.sh" crash_probe.exe stack.txt stack-use >/dev/null)
read -r _ used kept < <(grep '^stack ' "$work/stack.txt" 2>/dev/null)
if [ -z "${used:-}" ] || [ "$used" -ge "$kept" ]; then
  fail "the crash path used ${used:-an unknown number of} bytes of stack, more than the ${kept:-} kept for it"
else
  echo "crash report: the crash path used $used bytes of stack below the fault, of $kept kept for it"
fi

if [ -n "$report" ]; then
  report_py "$reports/$report" --symbols "$build/crash_probe-debug.zip" >"$work/out.txt" 2>&1 || fail "crash-report.py failed"
  probe_line=$(grep -n '^__attribute__((noinline)) void fault()' "$root/tests/reports/CrashProbe.cpp" | cut -d: -f1)
  main_line=$(grep -n 'fault();$' "$root/tests/reports/CrashProbe.cpp" | tail -n 1 | cut -d: -f1)
  grep -q '^exception: 0xc0000005 EXCEPTION_ACCESS_VIOLATION$' "$work/out.txt" || fail "no access violation"
  grep -q '^  writing address 0x0$' "$work/out.txt" || fail "not a write to address 0"
  grep -Eq "^  at 0x[0-9a-f]+ crash_probe\.exe\+0x[0-9a-f]+  (\(anonymous namespace\)::)?fault(\(\))? at tests/reports/CrashProbe\.cpp:$((probe_line + 3))\$" \
    "$work/out.txt" || fail "the fault is not placed in fault() at CrashProbe.cpp:$((probe_line + 3))"
  # The whole stack of the faulting thread, listed first: the fault, then main's call of it.
  sed -n '/^threads/,/^modules/p' "$work/out.txt" | sed -n '2,4p' >"$work/first.txt"
  grep -Eq '^  [0-9]+ \(faulted, main\):$' "$work/first.txt" || fail "the faulting thread is not listed first"
  grep -Eq '^    #0  .* fault(\(\))? at .*  \[context\]$' "$work/first.txt" || fail "frame 0 is not fault()"
  # On x86 the frame pointers reach it; x64's walk finds it by the scan.
  found=scan
  grep -qx 'processor: x86' "$work/out.txt" && found='frame pointer'
  grep -Eq "^    #1  .* main at tests/reports/CrashProbe\.cpp:$main_line  \[$found\]\$" "$work/first.txt" ||
    fail "frame 1 is not main's call of fault() at CrashProbe.cpp:$main_line, found by $found"
  grep -Eq '^  [0-9]+ \(writing this report\):$' "$work/out.txt" || fail "the reporting thread is not named"
  grep -q '^  calls under way: 0$' "$work/out.txt" || fail "no notes of what was going on"
  grep -Eq '^  0x[0-9a-f]{16} +0x[0-9a-f]+ [0-9.]+ +.*\\(kernel32|ntdll)\.dll$' "$work/out.txt" ||
    fail "no system module with its version"
  [ $status = 0 ] || cat "$work/out.txt"
  report_py "$reports/$report" --json | python3 -c '
import json, sys
r = json.load(sys.stdin)
assert r["kind"] == "crash" and r["exception"]["code"] == "0xc0000005", r["exception"]
assert r["threads"][0]["faulted"] and r["threads"][0]["frames"][0]["found_by"] == "context"
' || fail "--json does not give the same"
fi

# An x86 dump as Windows writes one for the 32-bit launcher (this machine runs none): the
# thread context is x86's, and its stack holds a frame-pointer chain that breaks, a value
# in code after no call, and one outside the code sections.
python3 - "$work/x86.dmp" <<'DUMP'
import struct, sys
base, code_at, stack_at = 0x400000, 0x401000, 0x19F000
calls = [0x401100, 0x401200, 0x401300]  # return addresses, each after a call
code = bytearray(0x1000)
for ret in calls:
    code[ret - 5 - code_at] = 0xE8
stack = struct.pack("<16I", 0x405000, 0x401400, calls[0], 0, stack_at + 0x20, calls[1], 0, 0,
                    stack_at + 0x40, 0x401400, 0, 0, calls[2], 0, 0, 0)
context = bytearray(0x2CC)
struct.pack_into("<I", context, 0xB4, stack_at + 0x10)  # Ebp
struct.pack_into("<I", context, 0xB8, 0x401234)  # Eip
struct.pack_into("<I", context, 0xC4, stack_at)  # Esp
name = "C:\\Games\\Tovin\\TovinLauncher.exe".encode("utf-16-le")
fixed = struct.pack("<13I", 0xFEEF04BD, 0x10000, 0x10000, 7, 0x10000, 7, 0, 0, 0, 1, 0, 0, 0)
streams, blobs, at = [], [], 32 + 12 * 7

def place(data):
    global at
    blobs.append(data)
    at += len(data)
    return at - len(data)

context_rva = place(bytes(context))
stack_rva = place(stack)
name_rva = place(struct.pack("<I", len(name)) + name)
code_rva = place(bytes(code))
def stream(kind, data):
    streams.append((kind, len(data), place(data)))
stream(7, bytes(56))
stream(4, struct.pack("<IQIIII", 1, base, 0x10000, 0, 0, name_rva) + fixed + bytes(32))
stream(3, struct.pack("<IIIIIQ", 1, 7, 0, 0, 0, 0) + struct.pack("<QII", stack_at, len(stack), stack_rva)
       + struct.pack("<II", len(context), context_rva))
stream(6, struct.pack("<IIIIQQII", 7, 0, 0xC0000094, 0, 0, 0x401234, 0, 0) + bytes(120)
       + struct.pack("<II", len(context), context_rva))
stream(0x544C0002, struct.pack("<IIQII", 1, 1, code_at, len(code), 0)
       + struct.pack("<QII8I", base, 0x10000, 1, 0x1000, 0x1000, 0, 0, 0, 0, 0, 0))
streams.append((0x544C0003, len(code), code_rva))
stream(0x544C0001, b"main_thread=7\nreporting_thread=9\ncalls=0\n")
out = struct.pack("<IIIIIIQ", 0x504D444D, 0xA793, len(streams), 32, 0, 0, 0)
out += b"".join(struct.pack("<III", *entry) for entry in streams) + b"".join(blobs)
open(sys.argv[1], "wb").write(out)
DUMP
report_py "$work/x86.dmp" >"$work/x86.txt" 2>&1 || fail "the x86 dump was not read"
for line in 'processor: x86' 'exception: 0xc0000094 EXCEPTION_INT_DIVIDE_BY_ZERO' '  at 0x401234 TovinLauncher.exe+0x1234' \
  '  7 (faulted, main):' '    #0  0x401234 TovinLauncher.exe+0x1234  [context]' \
  '    #1  0x401100 TovinLauncher.exe+0x1100  [scan]' '    #2  0x401200 TovinLauncher.exe+0x1200  [frame pointer]' \
  '    #3  0x401300 TovinLauncher.exe+0x1300  [scan]'; do
  grep -qxF "$line" "$work/x86.txt" || fail "the x86 dump does not give: $line"
done
[ "$(grep -c '^    #' "$work/x86.txt")" = 4 ] || fail "the x86 walk took a value that is no return address"
grep -Eq '^  0x0+400000 +0x10000 1\.0\.0\.7 +C:\\Games\\Tovin\\TovinLauncher\.exe$' "$work/x86.txt" ||
  fail "the x86 dump's module list is not read"
[ $status = 0 ] || cat "$work/x86.txt"

# Bad files: one line, exit code 2, never a traceback.
head -c 1000 "$work/x86.dmp" >"$work/short.dmp"
echo "not a dump" >"$work/text.dmp"
for bad in short.dmp text.dmp; do
  report_py "$work/$bad" >"$work/bad.out" 2>"$work/bad.err"
  code=$?
  if [ $code != 2 ] || [ -s "$work/bad.out" ] || [ "$(wc -l <"$work/bad.err")" != 1 ]; then
    fail "$bad: exit code $code, output:"
    cat "$work/bad.out" "$work/bad.err"
  fi
done
exit $status
