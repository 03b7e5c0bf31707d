#!/usr/bin/env bash
# Runs the launcher's crash and hang tests (LauncherCrashTests.cpp, through the wrappers
# and the program given as arguments), then reads the reports they kept as support would,
# with the build's debug information (launcher-reports-check.sh).
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
program=${*: -2:1}
build=$(cd "$(dirname "$program")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

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

bash "$here/launcher-reports-check.sh" "$work" "$build/release" || status=1
exit $status
