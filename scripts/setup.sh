#!/usr/bin/env bash
# Installs what the builds and tests need; safe to run again (silent, and does nothing,
# when all is there). When apt cannot do it, says which index or package failed and
# what to try, keeps apt's own text in a log, and ends with exit code 1.
#   TOVIN_SETUP_TRIES (default 3) and TOVIN_SETUP_PAUSE (seconds, default 20): apt-get
#   update is tried again after a pause, as an index caught in a mirror's sync often
#   is complete a little later.
set -euo pipefail

# wine64 and the 64-bit cross compiler run the Windows tests where the kernel runs no
# 32-bit programs (scripts/ia32-check.sh).
need=(g++-mingw-w64-i686 wine wine32 xvfb x11-utils cmake ninja-build clang libclang-rt-14-dev
      libgtest-dev googletest binutils-mingw-w64-i686 python3
      libbenchmark-dev librtmp-dev curl procps nlohmann-json3-dev
      wine64 g++-mingw-w64-x86-64-posix
      lld clang-tidy clang-format shellcheck unzip osslsigncode openssl locales)

missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# The Windows text tests run once per ANSI code page, which Wine takes from the locale:
# 1252 (en_US), 1251 (ru_RU) and 932 (ja_JP). Made from the definitions of the locales
# package, a second or two each, once.
locales=()
for l in en_US ru_RU ja_JP; do
  locale -a 2>/dev/null | grep -qix "$l.utf-\?8" || locales+=("$l")
done
make_locales() {
  [ ${#locales[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing locales (${locales[*]/%/.UTF-8}); run this script as root" >&2
    exit 1
  fi
  for l in "${locales[@]}"; do
    localedef -i "$l" -f UTF-8 "$l.UTF-8" ||
      { echo "setup: failed: localedef could not make the locale $l.UTF-8" >&2; exit 1; }
  done
}
if [ ${#missing[@]} -eq 0 ]; then
  make_locales
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages (${missing[*]}); run this script as root" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
# apt says nothing here (its output goes to the log): without these lines a first run
# would sit silent for minutes.
echo "setup: installing ${#missing[@]} Debian packages the builds and tests need (the first run only;" \
  "a few minutes, depending on the mirror)" >&2
started=$SECONDS
installed() {
  echo "setup: packages installed in $((SECONDS - started)) s" >&2
  make_locales
}
tries=${TOVIN_SETUP_TRIES:-3}
pause=${TOVIN_SETUP_PAUSE:-20}
log=$(mktemp "${TMPDIR:-/tmp}/tovin-setup.XXXXXX.log")

dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386

# apt-get update ends with 100 when any index failed, even though the others are fresh.
updated=no
for try in $(seq "$tries"); do
  if apt-get update -qq >>"$log" 2>&1; then
    updated=yes
    break
  fi
  if [ "$try" -lt "$tries" ]; then
    echo "setup: apt-get update failed (try $try of $tries); trying again in $pause s" >&2
    sleep "$pause"
  fi
done
failed_indexes=$(sed -n 's/^E: Failed to fetch \([^ ]*\) *\(.*\)/  \1: \2/p' "$log" | sort -u)

install() { apt-get install -y -qq --no-install-recommends "$@" "${missing[@]}" >>"$log" 2>&1; }
if install; then
  [ "$updated" = yes ] ||
    echo "setup: installed, though these indexes failed to download:"$'\n'"$failed_indexes" >&2
  installed
  exit 0
fi

# Multiarch needs the same version of each library for i386 and amd64. When one
# architecture's security index is missing, holding the security suite back for this one
# install lets both take the main suite's versions; the machine's own apt settings are
# left as they are.
pin_tried=no
if grep -q 'debian-security' <<<"$failed_indexes"; then
  pin_tried=yes
  prefs=$(mktemp -d "${TMPDIR:-/tmp}/tovin-setup-prefs.XXXXXX")
  cp /etc/apt/preferences.d/* "$prefs"/ 2>/dev/null || true
  printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 100\n' >"$prefs/tovin-security-sync"
  echo "setup: a security index failed to download; installing with the security suite held back (this install only)" >&2
  if install -o "Dir::Etc::PreferencesParts=$prefs"; then
    rm -rf "$prefs"
    echo "setup: installed; once the mirror has caught up, apt-get upgrade takes the security updates" >&2
    installed
    exit 0
  fi
  rm -rf "$prefs"
fi

# What apt names: "PKG : Depends: ..." and "Unable to locate package PKG".
packages=$(sed -n -e 's/^ *\([^ ]*\) : Depends:.*/\1/p' -e 's/^E: Unable to locate package \(.*\)/\1/p' "$log" |
  sort -u | tr '\n' ' ')
{
  echo "setup: apt-get could not install: ${packages:-${missing[*]}}"
  if [ -n "$failed_indexes" ]; then
    echo "setup: these package indexes failed to download:"
    echo "$failed_indexes"
  fi
  echo "setup: a Debian mirror may be in the middle of a sync: try again in an hour or so."
  if [ "$pin_tried" = yes ]; then
    echo "setup: the work-around for a security index out of step with the main one was tried and"
    echo "       did not help either: one install with this preference (as a file in /etc/apt/preferences.d/):"
    echo "       Package: * / Pin: release l=Debian-Security / Pin-Priority: 100"
  fi
  echo "setup: failed: the packages above were not installed (apt's own output: $log)"
} >&2
exit 1
