#!/usr/bin/env bash
# Wine runs the launcher as a 32-bit Linux process. Some virtual machines' kernels cannot
# run 32-bit programs at all (no ia32 emulation); there, 32-bit programs are handed to
# qemu's user-mode emulator through binfmt_misc. Slower, but the same Wine and the same
# tests. Needs root the first time; does nothing where 32-bit programs already run.
set -euo pipefail

loader=/lib/ld-linux.so.2
[ -x "$loader" ] || exit 0 # the i386 libraries are not installed yet: nothing to run
"$loader" --version >/dev/null 2>&1 && exit 0

echo "ia32-check: this kernel cannot run 32-bit programs; running them through qemu-i386" >&2
if [ "$(id -u)" -ne 0 ]; then
  echo "ia32-check: run scripts/setup.sh as root once to register qemu-i386 for 32-bit programs" >&2
  exit 1
fi
if ! command -v qemu-i386-static >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends qemu-user-static >/dev/null
fi
binfmt=/proc/sys/fs/binfmt_misc
[ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
if [ ! -e "$binfmt/qemu-i386" ]; then
  # 32-bit x86 ELF executables and shared objects; F: the emulator is opened now, so it
  # also serves programs started inside other mount namespaces.
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
    >"$binfmt/register"
fi
if ! "$loader" --version >/dev/null 2>&1; then
  echo "ia32-check: 32-bit programs still cannot run here, so Wine cannot either." >&2
  echo "ia32-check: use a machine whose kernel runs them (CONFIG_IA32_EMULATION, not disabled by ia32_emulation=0)." >&2
  exit 1
fi
