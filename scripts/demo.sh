#!/usr/bin/env bash
# The launcher's main job, headless: the stand-in game is started by the launcher under
# Wine (in a virtual desktop, so the display mode can change) and talks to it; every
# call and answer is printed as it happens.
#   scripts/demo.sh          headless (a private Xvfb)
#   scripts/demo.sh --show   on the current display
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
preset=windows
if ! bash scripts/ia32-check.sh 2>/dev/null; then
  echo "demo: this machine cannot run 32-bit programs (scripts/ia32-check.sh): the demo runs the" >&2
  echo "demo: launcher and the stand-in game built for 64-bit Windows, under wine64" >&2
  preset=windows64
  export TOVIN_WINE64=1
fi
[ "${1:-}" = "--show" ] || unset DISPLAY
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target TovinLauncher standin_game >/dev/null

root=$(pwd -P)
demo=$root/build/demo
rm -rf "$demo" && mkdir -p "$demo"
cp "build/$preset/TovinLauncher.exe" "build/$preset/tovin.dll" "$demo/"
: >"$demo/transcript.txt"

python3 tests/support/http_test_server.py "$demo/port" "$demo/requests.log" &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s "$demo/port" ] && break; sleep 0.1; done

export TOVIN_TRANSCRIPT="Z:${demo//\//\\}\\transcript.txt"
# Inside the scenario's quoted strings a backslash is written twice.
TOVIN_SCENARIO=$(python3 - "$demo" "$(cat "$demo/port")" <<'PY'
import sys
folder = "Z:" + sys.argv[1].replace("/", "\\\\")
text = open("tools/standin/demo.scenario").read()
print(text.replace("${HTTP}", "http://127.0.0.1:" + sys.argv[2]).replace("${DIR}", folder))
PY
)
export TOVIN_SCENARIO

run_demo() {
  # The transcript is in the ANSI code page; the follower prints it in UTF-8 line by
  # line as it grows, and the summary once the game's last line is in.
  (cd "$demo" && timeout 300 wine explorer /desktop=tovin-demo,1280x1024 TovinLauncher.exe </dev/null >"$demo/wine.log" 2>&1
   echo "$?" >"$demo/launcher.done") &
  local launcher=$! rc=0
  python3 scripts/follow-transcript.py "$demo/transcript.txt" "$demo/launcher.done" || rc=$?
  wait "$launcher" || true
  return "$rc"
}
export -f run_demo
export demo
scripts/wine-harness.sh run bash -c run_demo
