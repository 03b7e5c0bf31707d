#!/usr/bin/env bash
# Checks that an executable is a 32-bit GUI PE importing Windows system DLLs only.
set -euo pipefail
exe=$1
dump=$(objdump -p "$exe")
grep -q "file format pei-i386" <<<"$dump" || { echo "not a 32-bit PE: $exe"; exit 1; }
grep -Eq "^Subsystem[[:space:]]+0*2[[:space:]]" <<<"$dump" || { echo "not a GUI program: $exe"; exit 1; }
allowed='^(kernel32|user32|gdi32|comdlg32|wininet|msvcrt|advapi32|shell32|ole32|ws2_32|api-ms-win-crt-[a-z0-9-]+)\.dll$'
bad=0
while read -r dll; do
  echo "imports $dll"
  grep -Eiq "$allowed" <<<"$dll" || { echo "not a system DLL: $dll"; bad=1; }
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")
exit $bad
