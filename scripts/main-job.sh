#!/usr/bin/env bash
# The main job: builds the installer and runs it under Wine, leaving screenshots behind.
# On a fresh Debian machine (as root) it first installs what it lacks.
#
#   scripts/main-job.sh [--english] [--out DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

language=0
out="$root/out/main-job"
while [ $# -gt 0 ]; do
  case "$1" in
    --english) language=1 ;;
    --vietnamese) language=0 ;;
    --out) out=$2; shift ;;
    *) echo "usage: $0 [--english|--vietnamese] [--out DIR]" >&2; exit 2 ;;
  esac
  shift
done

scripts/ensure-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target ZunoOnlineSetup

state="$root/build/windows/wine"
eval "$(tests/harness/wine-env.sh "$state" env)"
mkdir -p "$out"

wine reg add 'HKLM\SOFTWARE\Zuno' /v fGiaodien /t REG_DWORD /d "$language" /f /reg:32 >/dev/null 2>&1

echo "main-job: starting ZunoOnlineSetup.exe under Wine (display $DISPLAY)"
wine "$root/build/windows/ZunoOnlineSetup.exe" &
installer=$!
sleep 4
import -display "$DISPLAY" -window root "$out/dialog.png"
echo "main-job: screenshot in $out/dialog.png"
wineserver -k || true
wait "$installer" 2>/dev/null || true
tests/harness/wine-env.sh "$state" down
