#!/usr/bin/env bash
# Builds and runs every benchmark, then prints one table (options: bench/run.py --help).
# The codec runs natively, optimised; the rest runs under Wine through the harness, on
# the 32-bit launcher as it ships, or on the 64-bit build under wine64 where the kernel
# runs no 32-bit programs (the table's first line says which).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset bench >/dev/null
cmake --build --preset bench --target codec_bench
preset=windows
if ! bash scripts/ia32-check.sh >/dev/null 2>&1; then
  preset=windows64
  export TOVIN_WINE64=1
  echo "bench: this machine runs no 32-bit programs: the Wine benchmarks measure the 64-bit build" >&2
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
TOVIN_BENCH_BUILD=$PWD/build/$preset scripts/wine-harness.sh run python3 bench/run.py "$@"
