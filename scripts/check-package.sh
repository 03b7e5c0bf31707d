#!/usr/bin/env bash
# Checks the players' package that `cmake --build --preset windows --target package`
# made: what each ZIP holds, the sums, and that the launcher in it is stripped, small,
# linked to its debug information, ready for a signature, without test code, and carries
# its manifest and version resources.
#   check-package.sh [BUILD_DIR]   (build/windows by default)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build/windows}
version=$(sed -n 's/^project(TovinLauncher VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=TovinLauncher-$version-win32
max_bytes=$((2 * 1024 * 1024))
fail() { echo "package: $*" >&2; exit 1; }

(cd "$dir" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
for zip in "$name.zip" "$name-debug.zip"; do
  grep -q " $zip\$" "$dir/SHA256SUMS" || fail "SHA256SUMS does not name $zip"
done

listing() { unzip -Z1 "$dir/$1" | grep -v '/$' | sort; }
# The programs shipped (one tovin_ship line each in cmake/Packaging.cmake), the launcher
# among them, with the two texts; and each program's debug information in the other ZIP.
mapfile -t programs < <(listing "$name.zip" | sed -n "s|^$name/\(.*\.exe\)$|\1|p")
printf '%s\n' "${programs[@]}" | grep -qx TovinLauncher.exe || fail "$name.zip holds no TovinLauncher.exe"
expected=$( (printf "$name/%s\n" LICENSE.txt README.txt "${programs[@]}") | sort)
[ "$(listing "$name.zip")" = "$expected" ] || fail "$name.zip holds: $(listing "$name.zip" | tr '\n' ' ')"
expected=$(printf "$name/%s.debug\n" "${programs[@]}" | sort)
[ "$(listing "$name-debug.zip")" = "$expected" ] ||
  fail "$name-debug.zip holds: $(listing "$name-debug.zip" | tr '\n' ' ')"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unzip -q "$dir/$name.zip" -d "$work"
unzip -q "$dir/$name-debug.zip" -d "$work"
for program in "${programs[@]}"; do
  exe=$work/$name/$program
  size=$(wc -c <"$exe")
  [ "$size" -lt "$max_bytes" ] || fail "$program is $size bytes, over $max_bytes"
  # Authenticode's boundary: a signature removed again gives back these bytes.
  [ $((size % 8)) = 0 ] || fail "$program is $size bytes, not a multiple of 8"
  # Crashing on purpose is for the test programs only (tests/reports/CrashProbe.cpp).
  ! grep -qaF -e CrashProbe -e fault-in-report "$exe" "$exe.debug" || fail "$program holds the crash probe's code"
  headers=$(i686-w64-mingw32-objdump -h "$exe")
  ! grep -q ' \.debug_' <<<"$headers" || fail "$program still holds debug sections"
  i686-w64-mingw32-objdump -t "$exe" | grep -q '^no symbols' || fail "$program still holds symbols"
  grep -q ' \.gnu_debuglink ' <<<"$headers" || fail "$program has no .gnu_debuglink"
  debug=$(basename "$program").debug
  i686-w64-mingw32-objdump -s -j .gnu_debuglink "$exe" | sed -n 's/^ [0-9a-f]* .\{35\}  //p' | tr -d '\n' |
    grep -qF "$debug" || fail "the debug link of $program does not name $debug"
  i686-w64-mingw32-objdump -h "$exe.debug" | grep -q ' \.debug_info ' || fail "$debug holds no debug information"
done
exe=$work/$name/TovinLauncher.exe
size=$(wc -c <"$exe")

# Resource types at the top of the directory: 0x10 RT_VERSION, 0x18 RT_MANIFEST.
types=$(i686-w64-mingw32-objdump -x "$exe" | sed -n 's/^[0-9a-f]*   Entry: ID: 0x0000\(..\),.*/\1/p')
for type in 10:RT_VERSION 18:RT_MANIFEST 03:RT_ICON 0e:RT_GROUP_ICON; do
  grep -qx "${type%%:*}" <<<"$types" || fail "TovinLauncher.exe has no ${type#*:} resource"
done
resources=$(i686-w64-mingw32-windres -i "$exe" -O rc)
grep -q "VALUE \"ProductVersion\", \"$version\"" <<<"$resources" || fail "the version resource does not say $version"
grep -q 'VALUE "OriginalFilename", "TovinLauncher.exe"' <<<"$resources" || fail "no OriginalFilename"
grep -Eq '^1 24 ' <<<"$resources" || fail "the manifest is not resource 1"
# The manifest's text is in the file as it is: what it must say, and the execution level
# it must not set (the launcher is virtualised like the game).
manifest=$(strings -a "$exe" | sed -n '/<assembly /,/<\/assembly>/p')
for needed in 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a' \
  'e2011457-1546-43c5-a5fe-008deee3d3f0' '<dpiAware' "version=\"$version.0\""; do
  grep -qF "$needed" <<<"$manifest" || fail "the manifest lacks $needed"
done
! grep -Eq '<(trustInfo|requestedExecutionLevel)' <<<"$manifest" || fail "the manifest sets an execution level"
echo "package: $name.zip (TovinLauncher.exe stripped, $size bytes), $name-debug.zip and SHA256SUMS are right"
