#!/usr/bin/env bash
# The download engine's rate for a 100 MiB file from nginx on loopback, in the same run as
# its peers: the least synchronous WinHTTP read loop under Wine (the floor Wine's socket path
# allows) and curl for reference. Goal: the engine at no less than 0.9 of the bare loop.
# Runs inside a private network namespace (as root).
#   bench/http_bench.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-3}

source bench/common.sh
bench_in_netns "http_bench" "" "$runs"

bench_workdir
mkdir -p "$work/www"
head -c 104857600 /dev/urandom >"$work/www/file.bin"

tests/harness/static-server.sh start "$work/server" 127.0.0.1:18080 "$work/www"

now() { date +%s%N; }
best_curl=
for _ in $(seq "$runs"); do
  t0=$(now); curl -sf -o "$work/curl.bin" http://127.0.0.1:18080/file.bin; t1=$(now)
  ms=$(( (t1 - t0) / 1000000 ))
  if [ -z "$best_curl" ] || [ "$ms" -lt "$best_curl" ]; then best_curl=$ms; fi
done

eval "$(tests/harness/wine-env.sh "$root/build/windows/wine" env)"
target=$(winepath -w "$work/wine.bin" 2>/dev/null)
read -r engine bare < <(wine build/windows/http_bench.exe 127.0.0.1 18080 /file.bin "$target" "$runs" | tr -d '\r')
cmp "$work/www/file.bin" "$work/wine.bin"

rate() { echo "104857600 / 1048576 / ($1 / 1000)" | bc -l; }
printf '32-bit programs (Wine and our i686 code): %s\n' "$(scripts/i386-mode.sh)"
printf '100 MiB from nginx on loopback, best of %s runs\n' "$runs"
printf '  HttpDownloader (Wine, progress bar)  %6d ms  %6.1f MiB/s\n' "$engine" "$(rate "$engine")"
printf '  bare WinHTTP loop (Wine)             %6d ms  %6.1f MiB/s\n' "$bare" "$(rate "$bare")"
printf '  curl (native)                        %6d ms  %6.1f MiB/s\n' "$best_curl" "$(rate "$best_curl")"
printf '  engine rate / bare loop rate  %.2f (goal at least 0.9)\n' "$(echo "$bare / $engine" | bc -l)"
printf '  engine rate / curl rate       %.2f\n' "$(echo "$best_curl / $engine" | bc -l)"
