#!/usr/bin/env bash
# The launcher's trace, read as Wine shows it (WINEDEBUG=+debugstr): a call received, its
# answer and a box each appear as one line. Argument: the build folder of the launcher.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/TovinLauncher.exe" "$build/tovin.dll" "$work/"
# A count the service refuses shows the "Alert" box; the game's end closes it.
export TOVIN_SCENARIO='wait-title 30000; flash; call Foo 1.5 "x y" [true]; answer; call ScreenResolutionEnable 800; no-answer 1500; exit 0'
export TOVIN_TRANSCRIPT="Z:${work//\//\\}\\transcript.txt"
cd "$work" || exit 1
WINEDEBUG=+debugstr timeout 120 "$root/scripts/wine-run.sh" TovinLauncher.exe >"$work/trace.log" 2>&1
status=0
expect() {
    if ! grep -qF "$1" "$work/trace.log"; then
        echo "missing trace line: $1"
        status=1
    fi
}
# Each line's text, then the same event for programs (" |amf " and hex).
expect 'OutputDebugStringA "tovin: call Foo(String : tovin.game.reply, Number : 1.500000, String : x y, Array : {Boolean : true}) |amf '
expect 'OutputDebugStringA "tovin: answer to tovin.game.reply: onUnknownMethod() |amf '
expect 'OutputDebugStringA "tovin: call ScreenResolutionEnable(String : tovin.game.reply, Number : 800.000000) |amf '
expect 'OutputDebugStringA "tovin: box Alert: '
if [ $status -ne 0 ]; then
    echo "--- trace lines seen:"
    grep -F 'tovin:' "$work/trace.log"
    echo "--- transcript:"
    cat "$work/transcript.txt"
fi
[ -n "${TOVIN_TRACE_SHOW:-}" ] && grep -F "tovin:" "$work/trace.log"
exit $status
