#!/usr/bin/env bash
# Runs one Windows program inside the harness (used as CMake's cross-compiling emulator).
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
state=${TOVIN_WINE_STATE:-$root/build/wine}
if [ "${TOVIN_WINE64:-}" = 1 ]; then # see wine-harness.sh
  state=${TOVIN_WINE_STATE:-$root/build/wine64}
  export PATH="$root/scripts/wine64:$PATH"
fi
[ -f "$state/env" ] || "$root/scripts/wine-harness.sh" start || exit 1
# shellcheck disable=SC1091
. "$state/env"
export WINEPREFIX=$state/prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
# Wine's own background processes inherit the program's output; give them a file, not
# the caller's pipe, so that the caller sees the end of the output when the program ends.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
wine "$@" </dev/null >"$log" 2>&1
rc=$?
cat "$log"
exit $rc
