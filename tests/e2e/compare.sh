#!/bin/sh
# compare.sh BUILDS_DIR OWN_BUILD OWN_DRIVER
#
# Puts the end-to-end results of this build (BUILDS_DIR/OWN_BUILD/e2e) beside
# those of the native build and of the other Windows build: the sample
# digests (digest.txt) and the normalised driver logs (log.txt) must be equal.
# Results of another build that are older than this build's driver library
# come from an earlier tree and are not used. Exit 77 (skipped) when no other
# build has fresh results.
set -u
builds=$1
own=$2
driver=$3
files="heavy/digest.txt heavy/log.txt ble/digest.txt ble/log.txt multi/digest.txt lostreply/log.txt bluetooth/digest.txt brev/digest.txt"

# This build's own results must come from its driver; its end-to-end tests
# fail on their own when they break, and are skipped where the machine
# cannot run the build's programs (32-bit code).
for f in $files; do
    mine="$builds/$own/e2e/$f"
    if [ ! -f "$mine" ] || [ "$mine" -ot "$driver" ]; then
        echo "SKIP: $own has no fresh $f (its end-to-end tests did not run here)"
        exit 77
    fi
done

compared=0
failed=0
for other in native win64 win32; do
    [ "$other" = "$own" ] && continue
    for f in $files; do
        theirs="$builds/$other/e2e/$f"
        [ -f "$theirs" ] || continue
        if [ "$theirs" -ot "$driver" ]; then
            echo "not compared: $other/e2e/$f is older than $(basename "$driver") (run the $other tests first)"
            continue
        fi
        if diff -u "$theirs" "$builds/$own/e2e/$f" >/dev/null; then
            echo "equal: $own and $other $f"
        else
            echo "FAIL: $own and $other differ in $f:"
            diff -u "$theirs" "$builds/$own/e2e/$f" | head -40
            failed=1
        fi
        compared=$((compared + 1))
    done
done

if [ $compared -eq 0 ]; then
    echo "SKIP: no other build has fresh end-to-end results to compare with"
    exit 77
fi
exit $failed
