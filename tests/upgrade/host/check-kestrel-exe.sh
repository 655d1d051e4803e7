#!/bin/sh
# check-kestrel-exe.sh OBJDUMP Kestrel.exe
#
# Kestrel.exe imports nothing but Windows system DLLs and FTD2XX.dll (no
# MinGW runtime DLL), and carries its manifest: version 6 of the common
# controls and no list of supported systems.
set -eu
objdump=$1
exe=$2
allowed="kernel32.dll msvcrt.dll user32.dll advapi32.dll ws2_32.dll gdi32.dll comctl32.dll comdlg32.dll
shell32.dll setupapi.dll cfgmgr32.dll ole32.dll oleaut32.dll shlwapi.dll version.dll ftd2xx.dll"
fail=0
for dll in $("$objdump" -p "$exe" | awk '/DLL Name:/ {print tolower($3)}'); do
    case " $(echo $allowed) " in
        *" $dll "*) ;;
        *) echo "FAIL: $(basename "$exe") imports $dll"; fail=1 ;;
    esac
done
manifest=$(tr -c '[:print:]' '\n' <"$exe" | grep -A3 'Microsoft.Windows.Common-Controls' || true)
echo "$manifest" | grep -q 'version="6.0.0.0"' || { echo "FAIL: no manifest asking for common controls 6"; fail=1; }
if tr -c '[:print:]' '\n' <"$exe" | grep -q 'supportedOS'; then
    echo "FAIL: the manifest lists supported systems"
    fail=1
fi
[ $fail -eq 0 ] && echo "$(basename "$exe"): imports and manifest ok"
exit $fail
