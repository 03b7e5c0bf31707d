#!/usr/bin/env bash
# One place for running Windows programs under Wine: a display (Xvfb when there is none),
# the project's own prefix under build/, and a wineserver kept alive for the whole run.
#   wine-harness.sh start | stop | run COMMAND...
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
state=${TOVIN_WINE_STATE:-$root/build/wine}
# TOVIN_WINE64=1: the 64-bit build of the tests under Wine's 64-bit loader, in a prefix of
# its own, where the kernel cannot run 32-bit programs (scripts/ia32-check.sh).
if [ "${TOVIN_WINE64:-}" = 1 ]; then
  state=${TOVIN_WINE_STATE:-$root/build/wine64}
  export PATH="$root/scripts/wine64:$PATH"
fi
export WINEPREFIX=$state/prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="

free_display() {
  local n
  for n in $(seq 90 199); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { echo "$n"; return; }
  done
  echo "wine-harness: no free X display" >&2; return 1
}

start() {
  mkdir -p "$state"
  if [ -f "$state/env" ]; then
    # shellcheck disable=SC1091
    . "$state/env"
    # Already up (a run inside a run): reuse it while its display lives.
    if [ -z "${TOVIN_XVFB_PID:-}" ] || kill -0 "$TOVIN_XVFB_PID" 2>/dev/null; then
      wineserver -p </dev/null >/dev/null 2>&1 || true
      return 0
    fi
    rm -f "$state/env"
  fi
  # A server left from an interrupted run would keep its dead display: end it first.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  local display=${DISPLAY:-} xvfb_pid=
  if [ -z "$display" ]; then
    local n; n=$(free_display)
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >"$state/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    [ -e "/tmp/.X11-unix/X$n" ] || { echo "wine-harness: Xvfb did not start" >&2; exit 1; }
    display=:$n
  fi
  export DISPLAY=$display
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-harness: creating the Wine prefix in $WINEPREFIX (once)" >&2
    wineboot -i </dev/null >"$state/wineboot.log" 2>&1
    wineserver -w
  fi
  wineserver -p </dev/null >/dev/null 2>&1 || true
  # A crash that the program's handlers pass on reaches the system's own handling, where
  # Wine would start its debugger, window and all. Named no debugger, it ends the process,
  # as Windows' error reporting does.
  if ! grep -qx '"Debugger"=""' "$WINEPREFIX/system.reg"; then
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d "" /f \
      </dev/null >/dev/null 2>&1
  fi
  printf 'export DISPLAY=%q\nTOVIN_XVFB_PID=%q\n' "$display" "$xvfb_pid" >"$state/env"
}

stop() {
  [ -f "$state/env" ] || return 0
  # shellcheck disable=SC1091
  . "$state/env"
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  if [ -n "${TOVIN_XVFB_PID:-}" ]; then kill "$TOVIN_XVFB_PID" 2>/dev/null || true; fi
  rm -f "$state/env"
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  run)
    shift
    start
    trap stop EXIT
    # shellcheck disable=SC1091
    . "$state/env"
    "$@"
    ;;
  *) echo "usage: $0 start|stop|run COMMAND..." >&2; exit 2 ;;
esac
