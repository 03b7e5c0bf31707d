#!/usr/bin/env bash
# Signs the players' package with a throwaway CA's code-signing certificate and checks
# the signatures: both programs verify against that CA, one changed byte fails, removing
# the signature gives back the unsigned build's bytes, and a wrong password or a PFX that
# cannot be read fails the build and leaves no ZIP. The folder holds the unsigned package
# again afterwards.
#   check-signing.sh [BUILD_DIR]   (build/windows by default, its unsigned package built)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$(cd "${1:-build/windows}" && pwd)
version=$(sed -n 's/^project(TovinLauncher VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=TovinLauncher-$version-win32
fail() { echo "signing: $*" >&2; exit 1; }
work=$(mktemp -d)
package() { env "$@" cmake --build "$dir" --target package >"$work/build.log" 2>&1; }
trap 'package TOVIN_SIGN_PFX= || echo "signing: could not build the unsigned package again" >&2; rm -rf "$work"' EXIT

[ -f "$dir/$name.zip" ] || fail "no unsigned $name.zip in $dir"
unzip -q "$dir/$name.zip" -d "$work/unsigned"

# A CA, and a code-signing certificate it issued, in a PFX with a password.
cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 2 -subj "/CN=Tovin Test CA" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj "/CN=Tovin Test Studio" 2>/dev/null
printf 'keyUsage=digitalSignature\nextendedKeyUsage=codeSigning\n' >signer.ext
openssl x509 -req -in signer.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 -extfile signer.ext \
  -out signer.crt 2>/dev/null
openssl pkcs12 -export -inkey signer.key -in signer.crt -out signer.pfx -passout pass:right-one
cd - >/dev/null

for wrong in "TOVIN_SIGN_PASSWORD=wrong-one" "TOVIN_SIGN_PFX=$work/none.pfx"; do
  ! package TOVIN_SIGN_PFX="$work/signer.pfx" "$wrong" || fail "the build with $wrong succeeded"
  [ "$(grep -c '^ *signing: ' "$work/build.log")" = 1 ] || { cat "$work/build.log"; fail "no one line says why ($wrong)"; }
  ! ls "$dir/$name"*.zip >/dev/null 2>&1 || fail "a ZIP is left after the failure with $wrong"
done

package TOVIN_SIGN_PFX="$work/signer.pfx" TOVIN_SIGN_PASSWORD=right-one || { cat "$work/build.log"; fail "build"; }
(cd "$dir" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the signed package"
unzip -q "$dir/$name.zip" -d "$work/signed"
for program in TovinLauncher.exe tools/tovin-lc.exe; do
  signed=$work/signed/$name/$program
  osslsigncode verify -CAfile "$work/ca.crt" -in "$signed" >"$work/verify.log" 2>&1 ||
    { cat "$work/verify.log"; fail "$program does not verify"; }
  grep -q 'Message digest algorithm *: SHA256' "$work/verify.log" || fail "$program is not signed with SHA-256"
  cp "$signed" "$work/changed.exe"
  printf '\x5a' | dd of="$work/changed.exe" bs=1 seek=4096 conv=notrunc status=none
  ! osslsigncode verify -CAfile "$work/ca.crt" -in "$work/changed.exe" >/dev/null 2>&1 ||
    fail "$program verifies with a byte changed"
  rm -f "$work/removed.exe"
  osslsigncode remove-signature -in "$signed" -out "$work/removed.exe" >/dev/null
  cmp "$work/removed.exe" "$work/unsigned/$name/$program" || fail "$program without its signature is not the unsigned build"
done
echo "signing: both programs verify, fail with a byte changed, and come back unsigned byte for byte"
