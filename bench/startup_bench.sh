#!/usr/bin/env bash
# The installer's size and start-up time, each against a peer of ours built the same way:
#   - the stripped size of ZunoOnlineSetup.exe with its resources (goal: at most 256 KiB),
#     beside a bare Win32 dialog program;
#   - the time from the start to the first visible window under Wine, against the bare
#     dialog program started the same way (median and best of RUNS runs).
# Runs inside a private network namespace (as root), so that the installer, which starts
# its download at once, reaches nothing outside.
#   bench/startup_bench.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-15}

source bench/common.sh
bench_in_netns "ZunoOnlineSetup bare_dialog startup_probe" "" "$runs"

bench_workdir
for exe in ZunoOnlineSetup bare_dialog; do
  i686-w64-mingw32-strip -o "$work/$exe.exe" "build/windows/$exe.exe"
done
size=$(stat -c %s "$work/ZunoOnlineSetup.exe")
bare_size=$(stat -c %s "$work/bare_dialog.exe")

eval "$(tests/harness/wine-env.sh build/windows/wine env)"
probe=$root/build/windows/startup_probe.exe
# One start each first: the page cache and Wine's own start-up are then warm for both.
wine "$probe" 1 "$work/bare_dialog.exe" >/dev/null 2>&1 || true
wine "$probe" 1 "$work/ZunoOnlineSetup.exe" >/dev/null 2>&1 || true
read -r installer_median installer_best < <(wine "$probe" "$runs" "$work/ZunoOnlineSetup.exe" | tr -d '\r')
read -r bare_median bare_best < <(wine "$probe" "$runs" "$work/bare_dialog.exe" | tr -d '\r')

printf '32-bit programs (Wine and our i686 code): %s\n' "$(scripts/i386-mode.sh)"
printf 'size, stripped (goal: at most 262144 bytes)\n'
printf '  ZunoOnlineSetup.exe      %8d bytes (%.1f KiB)\n' "$size" "$(echo "$size / 1024" | bc -l)"
printf '  bare dialog program      %8d bytes   ratio %.2f\n' "$bare_size" "$(echo "$size / $bare_size" | bc -l)"
printf 'start to first visible window under Wine, %s runs (median / best)\n' "$runs"
printf '  ZunoOnlineSetup.exe      %7.1f / %.1f ms\n' "$installer_median" "$installer_best"
printf '  bare dialog program      %7.1f / %.1f ms   ratio %.2f\n' "$bare_median" "$bare_best" \
  "$(echo "$installer_median / $bare_median" | bc -l)"
