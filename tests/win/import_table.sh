#!/usr/bin/env bash
# The installer's import table names only KnownDLLs of Windows 10/11 and comctl32 (which the
# manifest binds side by side); everything else it uses is delay-loaded.
#   import_table.sh OBJDUMP EXE
set -euo pipefail
objdump=$1 exe=$2
allowed="advapi32.dll comctl32.dll gdi32.dll kernel32.dll msvcrt.dll shell32.dll shlwapi.dll user32.dll"

imported=$("$objdump" -p "$exe" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$imported" ] || { echo "no import table read from $exe" >&2; exit 1; }
status=0
for dll in $imported; do
  case " $allowed " in
    *" $dll "*) ;;
    *) echo "imported and not allowed: $dll" >&2; status=1 ;;
  esac
done
echo "imports: $(echo $imported)"
exit $status
