#!/bin/sh
# can-run-32bit.sh: exit 0 when this machine can run the 32-bit Wine loader.
# Firecracker-style kernels built without IA32 emulation refuse every 32-bit
# ELF binary with "Exec format error".
[ -x /usr/lib/wine/wine ] || exit 1
/usr/lib/wine/wine --version >/dev/null 2>&1
