#!/usr/bin/env bash
# The launcher's main job, headless: the stand-in game is started by the launcher under
# Wine and talks to it; what the game sends and receives is printed as it happens.
#   scripts/demo.sh          headless (a private Xvfb)
#   scripts/demo.sh --show   on the current display, so a person can use the dialogs
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
[ "${1:-}" = "--show" ] || unset DISPLAY
cmake --preset windows >/dev/null
cmake --build --preset windows --target TovinLauncher standin_game >/dev/null

demo=build/demo
rm -rf "$demo" && mkdir -p "$demo"
cp build/windows/TovinLauncher.exe build/windows/tovin.dll "$demo/"
: >"$demo/transcript.txt"

run_demo() {
  export TOVIN_SCENARIO TOVIN_TRANSCRIPT
  TOVIN_SCENARIO=$(cat tools/standin/demo.scenario)
  TOVIN_TRANSCRIPT='Z:'$(pwd -P | tr / '\\')'\build\demo\transcript.txt'
  tail -n +1 -f "$demo/transcript.txt" &
  local tail_pid=$! rc=0
  (cd "$demo" && timeout 300 wine TovinLauncher.exe </dev/null >"$demo_log" 2>&1) || rc=$?
  sleep 0.3
  kill "$tail_pid" 2>/dev/null || true
  echo "launcher exit code: $rc"
}
export -f run_demo
export demo demo_log=$(pwd)/build/demo/wine.log
scripts/wine-harness.sh run bash -c run_demo
