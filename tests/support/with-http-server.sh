#!/usr/bin/env bash
# Runs a Windows test program under the harness with the test HTTP server beside it.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
python3 "$here/http_test_server.py" "$work/port" "$work/requests.log" &
server=$!
trap 'kill $server 2>/dev/null; chattr -i "$work/sealed" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { echo "the test HTTP server did not start"; exit 1; }
: >"$work/requests.log"
export TOVIN_HTTP_PORT; TOVIN_HTTP_PORT=$(cat "$work/port")
export TOVIN_HTTP_LOG="Z:${work//\//\\}\\requests.log"
# A folder that takes no new file while its one file can be written, where the file
# system can seal a folder (the download test skips that case otherwise).
mkdir "$work/sealed" && printf 'old' >"$work/sealed/x.bin"
if chattr +i "$work/sealed" 2>/dev/null; then
  export TOVIN_SEALED_DIR="Z:${work//\//\\}\\sealed"
fi
# The program runs through wine-run.sh, or through another wrapper named first.
case "$1" in
  *.sh) "$@" ;;
  *) "$here/../../scripts/wine-run.sh" "$@" ;;
esac
