#!/usr/bin/env bash
# SelectDownloadUrl on a 32-bit system: a Wine prefix made with WINEARCH=win32 (once, kept
# in STATE), where IsWow64Process answers false, must give the 32-bit package.
#   select_url_win32.sh STATE PROBE_EXE HOST
set -euo pipefail
state=$1
probe=$2
host=$3
export WINEPREFIX=$state/prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
mkdir -p "$state"
exec 9>"$state/.lock"
flock 9
if [ ! -f "$WINEPREFIX/.zuno-ready" ]; then
  rm -rf "$WINEPREFIX"
  wineboot -i >"$state/wineboot.log" 2>&1
  touch "$WINEPREFIX/.zuno-ready"
fi
url=$(wine "$probe" </dev/null 2>/dev/null | tr -d '\r')
wineserver -k 2>/dev/null || true
expected="http://$host/OG3tup2015.exe"
if [ "$url" != "$expected" ]; then
  echo "32-bit prefix: got '$url', expected '$expected'" >&2
  exit 1
fi
echo "32-bit prefix: $url"
