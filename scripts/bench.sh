#!/usr/bin/env bash
# Builds and runs every benchmark, then prints one table (options: bench/run.py --help).
# The codec runs natively, optimised; the rest runs under Wine through the harness.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset bench >/dev/null
cmake --build --preset bench --target codec_bench
cmake --preset windows >/dev/null
cmake --build --preset windows
scripts/wine-harness.sh run python3 bench/run.py "$@"
