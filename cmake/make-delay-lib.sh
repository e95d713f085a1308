#!/usr/bin/env bash
# Makes a delay-load import library of a system DLL from mingw-w64's import library:
#   make-delay-lib.sh NM DLLTOOL IMPORT_LIB DLL OUT_DIR   ->  OUT_DIR/libDLL_delay.a
# Every function the import library names (its __imp__ symbols, stdcall decoration kept for
# the link and dropped from the imported name by -k) is called through the delay-load helper,
# which loads DLL.dll at the first call.
set -euo pipefail
nm=$1 dlltool=$2 import_lib=$3 dll=$4 out_dir=$5

mkdir -p "$out_dir"
cd "$out_dir"
{
  echo "LIBRARY $dll.dll"
  echo "EXPORTS"
  "$nm" "$import_lib" | sed -n 's/^[0-9a-f]* I __imp__//p' | sort -u
} >"lib${dll}_delay.def"
rm -f "lib${dll}_delay.a"
"$dlltool" -k --input-def "lib${dll}_delay.def" --dllname "$dll.dll" --output-delaylib "lib${dll}_delay.a"
