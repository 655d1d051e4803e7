#!/bin/sh
# can-run-32bit.sh [--kernel]: exit 0 when this machine can run the 32-bit
# Wine loader. Firecracker-style kernels built without IA32 emulation (or
# booted with it off, or paravirtualised guests without a 32-bit mode)
# refuse every 32-bit ELF binary with "Exec format error".
#
# --kernel asks only whether the kernel runs 32-bit programs, before Wine is
# installed (scripts/setup.sh): it runs a 93-byte i386 program that calls
# exit(0) through int 0x80.
if [ "${1:-}" = --kernel ]; then
    probe=$(mktemp /tmp/quorvane-i386.XXXXXX) || exit 1
    printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\061\333\315\200' >"$probe"
    chmod 700 "$probe"
    "$probe" 2>/dev/null
    rc=$?
    rm -f "$probe"
    exit $rc
fi
[ -x /usr/lib/wine/wine ] || exit 1
/usr/lib/wine/wine --version >/dev/null 2>&1
