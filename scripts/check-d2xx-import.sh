#!/bin/sh
# check-d2xx-import.sh OBJDUMP MODULE.dll
#
# Passes when MODULE imports FTD2XX.dll by ordinal only, with exactly the
# ordinals the link library uses (link/d2xx/FTD2XX.def):
#   2 FT_Close, 3 FT_Read, 4 FT_Write, 7 FT_SetBaudRate,
#   8 FT_SetDataCharacteristics, 9 FT_SetFlowControl, 10 FT_SetDtr,
#   11 FT_ClrDtr, 13 FT_ClrRts, 14 FT_GetModemStatus, 18 FT_GetQueueStatus,
#   27 FT_OpenEx, 61 FT_GetDeviceInfo, 66 FT_ResetPort,
#   70 FT_CreateDeviceInfoList, 72 FT_GetDeviceInfoDetail.
set -eu
objdump=$1
module=$2
expected="2 3 4 7 8 9 10 11 13 14 18 27 61 66 70 72"

[ -f "$module" ] || { echo "FAIL: $module does not exist"; exit 1; }

# The import entries of FTD2XX.dll: objdump -p prints the block after
# "DLL Name: FTD2XX.dll"; each entry line starts with the thunk value, whose
# top bit marks an import by ordinal (the low bits are the ordinal).
entries=$("$objdump" -p "$module" | awk '
    /DLL Name:/ { inblock = (tolower($3) == "ftd2xx.dll"); next }
    inblock && /^[ \t]*$/ { inblock = 0; next }
    inblock && $1 ~ /^[0-9a-fA-F]+$/ { print $1, $NF }')

if [ -z "$entries" ]; then
    echo "FAIL: $(basename "$module") has no imports from FTD2XX.dll"
    exit 1
fi

found=""
bad=0
for v in $(echo "$entries" | awk '{print $1}'); do
    digits=${#v}
    top=$(echo "$v" | cut -c1)
    if [ "$top" != "8" ] || { [ "$digits" != 8 ] && [ "$digits" != 16 ]; }; then
        echo "FAIL: FTD2XX.dll import $v of $(basename "$module") is by name"
        bad=1
        continue
    fi
    ordinal=$(( 0x$(echo "$v" | cut -c2-) ))
    found="$found $ordinal"
done
echo "$entries" | awk '$2 != "<none>" { print "FAIL: import by name: " $2; bad=1 } END { exit bad }' || bad=1

found=$(echo $found | tr ' ' '\n' | sort -n | tr '\n' ' ' | sed 's/ $//')
if [ "$found" != "$expected" ]; then
    echo "FAIL: $(basename "$module") imports FTD2XX.dll ordinals [$found], expected [$expected]"
    bad=1
fi
[ "$bad" = 0 ] || exit 1
echo "ok: $(basename "$module") imports FTD2XX.dll by ordinal: $found"
