#!/usr/bin/env bash
# Fails when the linker threw away part of a delay-loaded function (a *_delay_a_s* object
# under "Discarded input sections" of the link map): that happens when code calls a function
# declared DECLSPEC_IMPORT through its __imp__ pointer, which then stays 0 and the program
# crashes at the first call. Also fails when no delay-load descriptor was linked at all.
#   check-delay-map.sh MAP
set -euo pipefail
map=$1

# (Their empty .data and .bss sections are always dropped; what counts is anything with a size.)
discarded=$(sed -n '/^Discarded input sections/,/^Memory Configuration/p' "$map" | grep '_delay_a_s[0-9]*\.o' |
  grep -v ' 0x0 ' | grep -o '[^ (]*_delay_a_s[0-9]*\.o' | sort -u || true)
if [ -n "$discarded" ]; then
  echo "check-delay-map: the linker discarded delay-load thunks (declare the functions without DECLSPEC_IMPORT):" >&2
  echo "$discarded" >&2
  exit 1
fi
if ! grep -q '_DELAY_IMPORT_DESCRIPTOR_' "$map"; then
  echo "check-delay-map: no delay-loaded DLL in $map" >&2
  exit 1
fi
