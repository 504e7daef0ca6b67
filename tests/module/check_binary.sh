#!/usr/bin/env bash
# Checks the built library: exactly the three undecorated exports, only system DLLs
# imported, and the version resource's strings.
set -u
objdump=$1
dll=$2
fail=0

exports=$("$objdump" -p "$dll" | awk '/\[Ordinal\/Name Pointer\] Table/{on=1;next} on&&/^[ \t]*\[/{print $NF} on&&/^$/{on=0}' | sort | tr '\n' ' ')
if [ "$exports" != "DllCanUnloadNow DllGetClassObject DllMain " ]; then
  echo "exports are '$exports'"; fail=1
fi

imports=$("$objdump" -p "$dll" | awk '/DLL Name:/{print tolower($3)}' | sort -u)
for name in $imports; do
  case "$name" in
    kernel32.dll|user32.dll|gdi32.dll|comctl32.dll|ole32.dll|oleaut32.dll|gdiplus.dll|winmm.dll|advapi32.dll|shell32.dll|msvcrt.dll|api-ms-win-*) ;;
    *) echo "imports non-system library $name"; fail=1 ;;
  esac
done

# The version strings are UTF-16 in the resource section.
strings -el "$dll" > /tmp/dorvantel_strings.$$
for s in "FileVersion" "ProductVersion" "ActiveMovie" "Filter dll" "OLESelfRegister" "AM20" "asInvoker"; do
  if ! grep -qF "$s" /tmp/dorvantel_strings.$$ && ! strings "$dll" | grep -qF "$s"; then
    echo "missing string '$s'"; fail=1
  fi
done
rm -f /tmp/dorvantel_strings.$$

if [ $fail -eq 0 ]; then echo "binary layout of $(basename "$dll"): ok"; fi
exit $fail
