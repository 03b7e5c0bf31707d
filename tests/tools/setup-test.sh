#!/usr/bin/env bash
# scripts/setup.sh against stand-ins for dpkg and apt-get: silent when all is installed,
# and, when the mirror is caught in a sync (the i386 security index fails to download and
# wine32 cannot be installed), it retries the update, then the install with the security
# suite held back; if that fails too, it names the index and the package and ends with
# exit code 1 on one clear line.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
status=0
fail() { echo "setup-test: $1"; status=1; }

stub() { printf '#!/usr/bin/env bash\n%s\n' "$2" >"$work/bin/$1"; chmod +x "$work/bin/$1"; }
stub id 'echo 0'
stub dpkg 'echo i386'
# shellcheck disable=SC2016 # the stub's own variables
stub apt-get 'echo "apt-get $*" >>"$STUB_CALLS"
case "$1" in
update)
  echo "Err:4 http://deb.debian.org/debian-security bookworm-security/main i386 Packages"
  echo "  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]"
  echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]"
  echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
  exit 100;;
install)
  # Holding the security suite back is what mends it, when the stand-in mirror allows.
  for a in "$@"; do
    case $a in Dir::Etc::PreferencesParts=*)
      [ -n "${STUB_PIN_HELPS:-}" ] && grep -q "Pin: release l=Debian-Security" "${a#*=}"/* && exit 0;;
    esac
  done
  echo "Some packages could not be installed."
  echo "The following packages have unmet dependencies:"
  echo " wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4+deb12u1) but it is not going to be installed"
  echo "E: Unable to correct problems, you have held broken packages." >&2
  exit 100;;
esac'
export PATH="$work/bin:$PATH" STUB_CALLS="$work/calls" TOVIN_SETUP_PAUSE=0 TMPDIR="$work"

# All there: nothing said, nothing run.
stub dpkg-query 'echo "install ok installed"'
out=$(bash "$root/scripts/setup.sh" 2>&1); rc=$?
[ $rc -eq 0 ] || fail "with every package installed it ended with $rc"
[ -z "$out" ] || fail "with every package installed it printed: $out"
[ ! -e "$work/calls" ] || fail "with every package installed it ran apt-get"

# The mirror in the middle of a sync.
stub dpkg-query 'echo "unknown ok not-installed"'
bash "$root/scripts/setup.sh" >"$work/out" 2>&1; rc=$?
[ $rc -eq 1 ] || fail "it ended with $rc, not 1"
[ "$(grep -c '^apt-get update' "$work/calls")" -eq 3 ] || fail "apt-get update was not tried 3 times"
last=$(tail -n 1 "$work/out")
case $last in "setup: failed: "*) ;; *) fail "its last line is not its own verdict: $last" ;; esac
expect() { grep -qF -- "$1" "$work/out" || fail "missing from its output: $1"; }
expect "apt-get could not install: wine32:i386"
expect "http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz"
expect "Mirror sync in progress?"
expect "mirror may be in the middle of a sync"
expect "was tried and"
expect "Pin: release l=Debian-Security / Pin-Priority: 100"
[ "$(grep -c '^apt-get install.*PreferencesParts' "$work/calls")" -eq 1 ] ||
  fail "the install was not tried again with the security suite held back"
grep -q "^E: Unable to correct problems" "$work/out" && fail "apt's own lines reached the screen"
grep -q "Unable to correct problems" "$work"/tovin-setup.*.log || fail "apt's own output is not in the log"

# ... where holding the security suite back lets the install through.
rm -f "$work/calls"
STUB_PIN_HELPS=1 bash "$root/scripts/setup.sh" >"$work/out" 2>&1; rc=$?
[ $rc -eq 0 ] || fail "with the security suite held back it still ended with $rc"
expect "security suite held back"
head -n 1 "$work/out" | grep -q "^setup: installing [0-9]* Debian packages" || fail "no first line said what it installs"
expect "setup: packages installed in "
ls "$work"/tovin-setup-prefs.* >/dev/null 2>&1 && fail "its preferences folder was left behind"

if [ $status -ne 0 ] || [ -n "${TOVIN_SETUP_SHOW:-}" ]; then
  echo "--- its output:"
  cat "$work/out"
fi
exit $status
