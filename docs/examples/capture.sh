#!/usr/bin/env bash
# Captures the examples of docs/tovin-lc.md: each script of this folder served by
# `tovin-lc serve` to the stand-in game under Wine; serve's output and the game's side go
# to NAME.txt beside the script.
#   docs/examples/capture.sh [BUILD]   BUILD: build/windows (default), or build/windows64
#                                      with TOVIN_WINE64=1 where no 32-bit program runs
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd -P)
root=$(cd "$here/../.." && pwd -P)
build=${1:-$root/build/windows}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/tovin-lc.exe" "$build/tovin.dll" "$here"/*.json "$work/"

# capture NAME "SERVE OPTIONS" "GAME'S SCENARIO"
capture() {
  local name=$1 scenario=$3 options
  read -ra options <<<"$2"
  : >"$work/transcript.txt"
  (cd "$work" && "$root/scripts/wine-run.sh" tovin-lc.exe serve "${options[@]}" "$name.json" >"$work/serve.txt") &
  local serve=$!
  sleep 1
  (cd "$work" && TOVIN_SCENARIO="flash; $scenario; exit 0" TOVIN_TRANSCRIPT=transcript.txt \
    "$root/scripts/wine-run.sh" tovin.dll >/dev/null)
  wait "$serve"
  {
    echo "> tovin-lc serve $2 $name.json"
    tr -d '\r' <"$work/serve.txt"
    echo
    echo "The game's side (the stand-in game's transcript):"
    iconv -f cp1252 -t utf-8 "$work/transcript.txt"
  } >"$here/$name.txt"
  echo "capture: $name.txt"
}

capture download-404-then-ok "--seconds 10" \
  'call HttpDownload http://cdn.example.com/levels/level2.swf C:\Games\Tovin\levels\level2.swf; answer 15000;
   call HttpDownload http://cdn.example.com/levels/level2.swf C:\Games\Tovin\levels\level2.swf; answer 15000'
capture dialog-cancelled "--seconds 10" \
  'call BrowseFile C:\Games\Tovin\saves "" {"0": "Saves", "1": "*.sav"}; answer 15000;
   call BrowseFileToSave C:\Games\Tovin\saves slot1.sav {"0": "Saves", "1": "*.sav"}; answer 15000'
capture two-files-chosen "--seconds 10" \
  'call BrowseFile C:\Users\Player\Pictures "" {"0": "Images", "1": "*.png"} true; answer 15000'
capture switch-refused "--defaults launcher --seconds 10" \
  'call ScreenResolutionEnable 1920 1080 32; answer 15000; call ScreenResolutionEnable 1280 720 32; answer 15000;
   call ScreenResolutionDisable; no-answer 1500'
capture answer-delayed "--json --seconds 12" \
  'call HttpDownload http://cdn.example.com/music/theme.mp3 C:\Games\Tovin\music\theme.mp3; call Ping;
   answer 15000; answer 15000'
