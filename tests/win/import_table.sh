#!/usr/bin/env bash
# Fails when the installer's import table names a DLL other than the KnownDLLs it may import,
# or ShellExecuteW (whose class lookup merges HKCU\Software\Classes, elevated or not).
#   import_table.sh OBJDUMP EXE
set -euo pipefail
imports=$("$1" -p "$2")
dlls=$(sed -n 's/^\tDLL Name: //p' <<<"$imports" | tr 'A-Z' 'a-z' | sort -u)
echo "imports:" $dlls
[ -n "$dlls" ] && ! grep -vxE '(advapi32|gdi32|kernel32|msvcrt|ntdll|ole32|shell32|shlwapi|user32)\.dll' <<<"$dlls"
! grep -E '[[:space:]]ShellExecuteW$' <<<"$imports"
