#!/usr/bin/env bash
# Fails when the installer's import table names a DLL other than the KnownDLLs it may import.
#   import_table.sh OBJDUMP EXE
set -euo pipefail
dlls=$("$1" -p "$2" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
echo "imports:" $dlls
[ -n "$dlls" ] && ! grep -vxE '(advapi32|gdi32|kernel32|msvcrt|ntdll|ole32|shell32|shlwapi|user32)\.dll' <<<"$dlls"
