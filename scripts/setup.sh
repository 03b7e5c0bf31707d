#!/usr/bin/env bash
# Installs what the builds and tests need; safe to run again (does nothing when all is there).
set -euo pipefail

need=(g++-mingw-w64-i686 wine wine32 xvfb x11-utils cmake ninja-build clang libclang-rt-14-dev
      libgtest-dev googletest binutils-mingw-w64-i686 python3
      libbenchmark-dev librtmp-dev curl procps
      lld clang-tidy clang-format shellcheck unzip)

missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages (${missing[*]}); run this script as root" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
