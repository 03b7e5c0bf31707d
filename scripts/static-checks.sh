#!/usr/bin/env bash
# The static checks of the test command:
#   clang-tidy on src/ (the checks and why: .clang-tidy), over the windows-clang build's
#     compile commands, so that the Win32 shell is checked too;
#   the shell scripts through ShellCheck;
#   clang-format --dry-run -Werror (.clang-format) on every C++ source;
#   the docs against the code (scripts/check-docs.py: names, numbers tied to constants,
#     lists of methods) and the demo's scenario against the method table
#     (scripts/check-demo.py).
set -euo pipefail
cd "$(dirname "$0")/.."
status=0

echo "static checks: shellcheck"
shellcheck scripts/*.sh scripts/wine64/* .ci/run tests/*/*.sh || status=1

echo "static checks: clang-format"
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
clang-format --dry-run -Werror "${sources[@]}" || status=1

echo "static checks: docs and demo against the code"
python3 scripts/check-docs.py || status=1
python3 scripts/check-demo.py || status=1

echo "static checks: clang-tidy"
cmake --preset windows-clang >/dev/null
# Two at a time (the machine's cores); "N warnings generated" counts the silenced ones.
# Every file is checked even after a finding (xargs would stop at an exit status of 255).
git ls-files -z 'src/*.cpp' |
  xargs -0 -P2 -n4 sh -c 'clang-tidy -p build/windows-clang --quiet "$@" || exit 1' clang-tidy \
    2> >(grep -v 'warnings\? generated' >&2) ||
  status=1

[ $status -eq 0 ] && echo "static checks: all clean"
exit $status
