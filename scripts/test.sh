#!/usr/bin/env bash
# Builds both presets and runs every test: the static checks, the portable core on the
# host under sanitizers, the fuzz targets for a bounded time, the Windows programs under
# Wine, everything built again by clang (its portable core's tests under Wine), the
# players' package, its signing and its reproducibility, the demo, and a short run of the
# benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# Wine needs a kernel that runs 32-bit programs for the launcher as it ships. Without one,
# the Windows tests run as a 64-bit build under wine64, the 32-bit programs are built but
# not run, and the last lines say so.
wine=yes
bash scripts/ia32-check.sh || wine=no
skipped() { echo "test: skipped, this machine runs no 32-bit programs: $*" >&2; }

for preset in host windows; do
  cmake --preset "$preset" -DTOVIN_WERROR=ON >/dev/null
  cmake --build --preset "$preset"
done

bash scripts/static-checks.sh
ctest --preset host
bash scripts/fuzz.sh "${TOVIN_FUZZ_SECONDS:-60}"
# The harness is started and stopped by the test run itself (its wine.start/wine.stop fixtures).
if [ "$wine" = yes ]; then
  ctest --preset windows
else
  # The same tests built for 64-bit Windows, under Wine's 64-bit loader: every test of the
  # launcher's logic runs, though not the 32-bit program that ships.
  skipped "ctest --preset windows; the same tests run as a 64-bit build under wine64"
  cmake --preset windows64 -DTOVIN_WERROR=ON >/dev/null
  cmake --build --preset windows64
  ctest --preset windows64
fi

# The second toolchain (clang and lld, warnings as errors): the shipped programs, the
# stand-in game and the crash probe, so that their second compile cannot break unseen,
# then the portable core's tests. (`cmake --build --preset windows-clang` builds every
# target; the test programs are left out here to keep the whole command near half an hour.)
cmake --preset windows-clang >/dev/null
cmake --build --preset windows-clang --target TovinLauncher tovin-lc standin_game crash_probe core_tests
if [ "$wine" = yes ]; then ctest --preset windows-clang -R core_tests; else skipped "the clang build's core_tests (32-bit)"; fi

# The players' package, then the same package built twice elsewhere.
cmake --build --preset windows --target package
bash scripts/check-package.sh
# Signed with a throwaway CA's certificate: it verifies, and unsigned again it is the same bytes.
bash scripts/check-signing.sh
bash scripts/check-reproducible.sh

# The demo once, through a pipe: its output must hold the whole conversation, each call
# answered as its scenario expects and the method table allows (where no 32-bit program
# runs, the 64-bit build's).
bash scripts/demo.sh | tee build/demo.log
python3 scripts/check-demo.py build/demo.log

# The benchmarks, short: they must keep running from a clean clone (figures not judged).
# Where no 32-bit program runs, they measure the 64-bit build, and the table says so;
# that run builds and tests a second Windows build, so it takes the codec and the
# desktop's rows only, to keep the whole command within half an hour.
if [ "$wine" = yes ]; then
  bash scripts/bench.sh --quick
else
  bash scripts/bench.sh --quick --only codec,answers,sessionend
  echo "test: every stage passed, the Windows tests, the demo and the Wine benchmarks as a 64-bit" >&2
  echo "test: build under wine64; the 32-bit Windows tests need a machine that runs 32-bit" >&2
  echo "test: programs (scripts/ia32-check.sh)" >&2
fi
