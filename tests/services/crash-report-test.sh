#!/usr/bin/env bash
# A crash leaves a report that support can read: crash_probe (the launcher's crash
# handlers and display service) switches the display in a virtual desktop and faults in
# a known function. Its report lies in CrashReports with at most four older ones (other
# files untouched), and scripts/crash-report.py names the function and its line from the
# debug ZIP; a dump of the 32-bit launcher, made here, is read too. A file that is no
# minidump, or one cut short, gets one line and exit code 2.
# Argument: the build folder.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "$1" && pwd)
version=$(sed -n 's/^project(TovinLauncher VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "crash report: $*"; status=1; }
wine_run() { "$root/scripts/wine-run.sh" "$@" | tr -d '\r'; }

local_app_data=$(wine_run cmd /c echo %LOCALAPPDATA% | tail -n 1)
reports=$(wine_run winepath -u "$local_app_data" | tail -n 1)/TovinLauncher/CrashReports
if [ -z "$local_app_data" ] || [ "${reports#/}" = "$reports" ]; then
  echo "no LOCALAPPDATA in the Wine prefix"
  exit 1
fi
rm -rf "$reports"
mkdir -p "$reports"
for day in 1 2 3 4 5 6; do
  touch -d "2026-01-0$day" "$reports/TovinLauncher-0.9.0-2026010$day-120000-4$day.dmp"
done
touch -d 2026-01-01 "$reports/notes.txt"

cp "$build/crash_probe.exe" "$work/"
(cd "$work" && wine_run explorer "/desktop=tovin-crash,1280x1024" crash_probe.exe switched.txt fault >/dev/null)
[ "$(tr -d '\r' <"$work/switched.txt" 2>/dev/null)" = 800x600 ] || fail "the probe did not switch the display first"

mapfile -t left < <(cd "$reports" && ls)
expected="notes.txt TovinLauncher-0.9.0-20260103-120000-43.dmp TovinLauncher-0.9.0-20260104-120000-44.dmp"
expected+=" TovinLauncher-0.9.0-20260105-120000-45.dmp TovinLauncher-0.9.0-20260106-120000-46.dmp"
report=$(printf '%s\n' "${left[@]}" | grep -E "^TovinLauncher-$version-[0-9]{8}-[0-9]{6}-[0-9]+\.dmp\$")
[ "$(printf '%s\n' "${left[@]}" | grep -vxF "$report" | sort | tr '\n' ' ')" = "$(tr ' ' '\n' <<<"$expected" | sort | tr '\n' ' ')" ] ||
  fail "CrashReports holds: ${left[*]}"

if [ -n "$report" ]; then
  python3 "$root/scripts/crash-report.py" "$reports/$report" --symbols "$build/crash_probe-debug.zip" >"$work/out.txt" 2>&1 ||
    fail "crash-report.py failed"
  probe_line=$(grep -n '^__attribute__((noinline)) void fault()' "$root/tests/services/CrashProbe.cpp" | cut -d: -f1)
  grep -q '^exception: 0xc0000005 EXCEPTION_ACCESS_VIOLATION$' "$work/out.txt" || fail "no access violation"
  grep -q '^  writing address 0x0$' "$work/out.txt" || fail "not a write to address 0"
  grep -Eq "^  at 0x[0-9a-f]+ crash_probe\.exe\+0x[0-9a-f]+  (\(anonymous namespace\)::)?fault(\(\))? at tests/services/CrashProbe\.cpp:$((probe_line + 3))\$" \
    "$work/out.txt" || fail "the fault is not placed in fault() at CrashProbe.cpp:$((probe_line + 3))"
  grep -Eq '^  [0-9]+ \(faulted\): .* fault(\(\))? at ' "$work/out.txt" || fail "the faulting thread is not in fault()"
  grep -Eq '^  0x[0-9a-f]{16} +0x[0-9a-f]+ [0-9.]+ +.*\\(kernel32|ntdll)\.dll$' "$work/out.txt" ||
    fail "no system module with its version"
  grep -Eq '^  0x[0-9a-f]{16} .*crash_probe\.exe$' "$work/out.txt" || fail "the probe is not in the module list"
  [ $status = 0 ] || cat "$work/out.txt"

  # An x86 dump as Windows writes one for the 32-bit launcher (this machine runs none):
  # the thread context is x86's, Eip at 0xb8.
  python3 - "$work/x86.dmp" <<'DUMP'
import struct, sys
name = "C:\\Games\\Tovin\\TovinLauncher.exe".encode("utf-16-le")
context = bytearray(0x2CC)
struct.pack_into("<I", context, 0xB8, 0x401234)
fixed = struct.pack("<13I", 0xFEEF04BD, 0x10000, 0x10000, 7, 0x10000, 7, 0, 0, 0, 1, 0, 0, 0)
system, module_rva = bytes(56), 80 + 56
modules = struct.pack("<IQIIII", 1, 0x400000, 0x10000, 0, 0, module_rva + 112) + fixed + bytes(32)
names = struct.pack("<I", len(name)) + name
threads_rva = module_rva + len(modules) + len(names)
context_rva = threads_rva + 52 + 168
threads = struct.pack("<IIIIIQQII", 1, 7, 0, 0, 0, 0, 0, 0, 0) + struct.pack("<II", len(context), context_rva)
exception = struct.pack("<IIIIQQII", 7, 0, 0xC0000094, 0, 0, 0x401234, 0, 0) + bytes(120)
exception += struct.pack("<II", len(context), context_rva)
streams = [(7, system, 80), (4, modules, module_rva), (3, threads, threads_rva), (6, exception, threads_rva + 52)]
out = struct.pack("<IIIIIIQ", 0x504D444D, 0xA793, 4, 32, 0, 0, 0)
out += b"".join(struct.pack("<III", kind, len(data), rva) for kind, data, rva in streams)
out += system + modules + names + threads + exception + context
open(sys.argv[1], "wb").write(out)
DUMP
  python3 "$root/scripts/crash-report.py" "$work/x86.dmp" >"$work/x86.txt" 2>&1 || fail "the x86 dump was not read"
  for line in 'processor: x86' 'exception: 0xc0000094 EXCEPTION_INT_DIVIDE_BY_ZERO' '  at 0x401234 TovinLauncher.exe+0x1234' \
    '  7 (faulted): 0x401234 TovinLauncher.exe+0x1234'; do
    grep -qxF "$line" "$work/x86.txt" || fail "the x86 dump does not give: $line"
  done
  grep -Eq '^  0x0+400000 +0x10000 1\.0\.0\.7 +C:\\Games\\Tovin\\TovinLauncher\.exe$' "$work/x86.txt" ||
    fail "the x86 dump's module list is not read"
  [ $status = 0 ] || cat "$work/x86.txt"

  # Bad files: one line, exit code 2, never a traceback.
  head -c 1000 "$reports/$report" >"$work/short.dmp"
  echo "not a dump" >"$work/text.dmp"
  for bad in short.dmp text.dmp; do
    python3 "$root/scripts/crash-report.py" "$work/$bad" >"$work/bad.out" 2>"$work/bad.err"
    code=$?
    if [ $code != 2 ] || [ -s "$work/bad.out" ] || [ "$(wc -l <"$work/bad.err")" != 1 ]; then
      fail "$bad: exit code $code, output:"
      cat "$work/bad.out" "$work/bad.err"
    fi
  done
fi
exit $status
