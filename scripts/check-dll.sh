#!/bin/sh
# check-dll.sh OBJDUMP DLL DEF
#
# Checks a Windows build of the driver library:
# - every name of the export definition DEF is exported by DLL; names marked
#   DATA must point into a data section, all others into code;
# - DLL imports nothing but Windows system DLLs and FTD2XX.dll (no MinGW
#   runtime DLLs such as libstdc++-6.dll or libwinpthread-1.dll).
set -eu
objdump=$1
dll=$2
def=$3

allowed="kernel32.dll msvcrt.dll user32.dll advapi32.dll ws2_32.dll gdi32.dll
comctl32.dll comdlg32.dll shell32.dll setupapi.dll cfgmgr32.dll ole32.dll
oleaut32.dll shlwapi.dll version.dll winmm.dll ftd2xx.dll"

dump=$("$objdump" -p "$dll")
sections=$("$objdump" -h "$dll")
fail=0

image_base=$(printf '%s\n' "$dump" | awk '$1 == "ImageBase" {print $2; exit}')

# Section of an RVA: "code", "data" or "none".
section_kind() {
    rva=$1
    printf '%s\n' "$sections" | awk -v base="$image_base" -v rva="$rva" '
        function hex(s,   i, c, v) {
            v = 0; s = tolower(s)
            for (i = 1; i <= length(s); i++) {
                c = index("0123456789abcdef", substr(s, i, 1)) - 1
                v = v * 16 + c
            }
            return v
        }
        $1 ~ /^[0-9]+$/ && NF >= 7 { start = hex($4) - hex(base); size = hex($3); pending = 1; next }
        pending {
            pending = 0
            if (hex(rva) >= start && hex(rva) < start + size) {
                print (index($0, "CODE") ? "code" : "data"); found = 1; exit
            }
        }
        END { if (!found) print "none" }'
}

# Export address table: index -> RVA; name table: name -> index.
eat=$(printf '%s\n' "$dump" | awk '/^Export Address Table --/ {t = 1; next}
    t && /^[ \t]*\[/ { gsub(/[][]/, " "); print $1, $4; next } t && NF == 0 {t = 0}')
names=$(printf '%s\n' "$dump" | awk '/^\[Ordinal\/Name Pointer\] Table/ {t = 1; next}
    t && /^[ \t]*\[/ { gsub(/[][]/, " "); print $2, $1; next } t && NF == 0 {t = 0}')

count=0
for entry in $(sed -e 's/;.*//' "$def" | awk 'NF && $1 != "EXPORTS" && $1 != "LIBRARY" {print $1 ($2 == "DATA" ? ":data" : ":code")}'); do
    name=${entry%%:*}
    want=${entry##*:}
    index=$(printf '%s\n' "$names" | awk -v n="$name" '$1 == n {print $2; exit}')
    if [ -z "$index" ]; then
        echo "not exported: $name"
        fail=1
        continue
    fi
    rva=$(printf '%s\n' "$eat" | awk -v i="$index" '$1 == i {print $2; exit}')
    kind=$(section_kind "$rva")
    if [ "$kind" != "$want" ]; then
        echo "export $name points into $kind, expected $want (RVA $rva)"
        fail=1
    fi
    count=$((count + 1))
done

imports=$(printf '%s\n' "$dump" | awk '/DLL Name:/ {print $3}')
for dllname in $imports; do
    lower=$(printf '%s' "$dllname" | tr 'A-Z' 'a-z')
    case " $(echo $allowed) " in
    *" $lower "*) ;;
    *)
        echo "imports a DLL that is not a Windows system DLL: $dllname"
        fail=1
        ;;
    esac
done

echo "$count exports checked; imports: $(echo $imports)"
exit $fail
