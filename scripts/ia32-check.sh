#!/usr/bin/env bash
# Wine runs the launcher as a 32-bit Linux process, so the Windows tests, the demo and
# the Wine benchmarks need a kernel that runs 32-bit programs. Some virtual machines'
# kernels cannot (no ia32 emulation: "Exec format error"). Exits 0 when 32-bit programs
# run here; otherwise says why and what to do, and exits 1. (Emulating them with
# qemu-i386 was tried: Wine then takes minutes to start a program, and failed to.)
set -uo pipefail

loader=/lib/ld-linux.so.2
if [ ! -x "$loader" ]; then
  echo "ia32-check: the i386 C library is not installed; run scripts/setup.sh as root first" >&2
  exit 1
fi
"$loader" --version >/dev/null 2>&1 && exit 0
cat >&2 <<'TEXT'
ia32-check: this machine's kernel cannot run 32-bit programs, so Wine cannot run the
ia32-check: launcher here. Use a machine (or VM) whose Linux kernel runs them
ia32-check: (CONFIG_IA32_EMULATION, not turned off with ia32_emulation=0).
TEXT
exit 1
