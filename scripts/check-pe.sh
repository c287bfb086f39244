#!/usr/bin/env bash
# Static checks of a Windows binary built here:
#   check-pe.sh FILE MACHINE      (MACHINE: i386 or x86-64)
# - the PE machine type is MACHINE;
# - it imports only DLLs that ship with Windows (no MinGW runtime DLLs).
set -u
file=$1 machine=$2
case "$machine" in
  i386) objdump=i686-w64-mingw32-objdump; want='pei-i386' ;;
  x86-64) objdump=x86_64-w64-mingw32-objdump; want='pei-x86-64' ;;
  *) echo "check-pe: unknown machine $machine" >&2; exit 2 ;;
esac
fail=0
format=$($objdump -f "$file" | sed -n 's/.*file format //p')
if [ "$format" != "$want" ]; then echo "check-pe: $file is $format, not $want"; fail=1; fi
# The system DLLs a component of ours may import.
system='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|comctl32|msvcrt|ntdll|uuid|ws2_32|bcrypt|version)\.dll$'
for dll in $($objdump -p "$file" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u); do
  if ! grep -Eq "$system" <<<"$dll" && ! grep -Eq '^api-ms-win-' <<<"$dll"; then
    echo "check-pe: $file imports $dll, which is not a system DLL"; fail=1
  fi
done
[ $fail -eq 0 ] && echo "check-pe: $file: $format, system imports only"
exit $fail
