#!/usr/bin/env bash
# Builds both presets and runs every test: the portable core on the host under
# sanitizers, the fuzz targets for a bounded time, the Windows programs under Wine, and
# a short run of the benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

for preset in host windows; do
  cmake --preset "$preset" -DTOVIN_WERROR=ON >/dev/null
  cmake --build --preset "$preset"
done

ctest --preset host
bash scripts/fuzz.sh "${TOVIN_FUZZ_SECONDS:-60}"
# The harness is started and stopped by the test run itself (its wine.start/wine.stop fixtures).
ctest --preset windows
# The benchmarks, short: they must keep running from a clean clone (figures not judged).
bash scripts/bench.sh --quick
