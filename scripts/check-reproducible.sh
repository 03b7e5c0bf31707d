#!/usr/bin/env bash
# Builds the players' package twice, from two copies of the sources in two different
# folders, one after the other, and checks that both give the same bytes: the program in
# the ZIP, and the ZIPs themselves. Only the launcher and its package are built.
set -euo pipefail
cd "$(dirname "$0")/.."

work=$(mktemp -d "${TMPDIR:-/tmp}/tovin-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The sources as they are in this checkout, committed or not.
copy_sources() {
  mkdir -p "$1"
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar --null -T - -cf - | tar -xf - -C "$1"
}

build() {
  local src=$1
  copy_sources "$src"
  cmake -S "$src" -B "$src/build/windows" -G Ninja --toolchain "$src/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVIN_RELEASE_ONLY=ON >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log"; exit 1; }
  cmake --build "$src/build/windows" --target package >"$work/build.log" 2>&1 ||
    { cat "$work/build.log"; exit 1; }
}

first=$work/one/tovin
second=$work/another/place/TovinLauncher-src
build "$first"
sleep 2  # a different second for anything that would note the time
build "$second"

version=$(sed -n 's/^project(TovinLauncher VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=TovinLauncher-$version-win32
status=0
exe() { unzip -p "$1/build/windows/$name.zip" "$name/TovinLauncher.exe"; }
if cmp <(exe "$first") <(exe "$second") >/dev/null; then
  echo "reproducible: $name.zip TovinLauncher.exe ($(exe "$first" | wc -c) bytes) is the same from both builds"
else
  echo "NOT reproducible: TovinLauncher.exe differs between $first and $second" >&2
  status=1
fi
for f in "$name.zip" "$name-debug.zip" SHA256SUMS; do
  if cmp "$first/build/windows/$f" "$second/build/windows/$f" >/dev/null; then
    echo "reproducible: $f"
  else
    echo "NOT reproducible: $f differs" >&2
    status=1
  fi
done
exit $status
