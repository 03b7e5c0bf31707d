#!/usr/bin/env bash
# Builds both presets and runs every test: the portable core on the host under
# sanitizers, the fuzz targets for a bounded time, and the Windows programs under Wine.
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
