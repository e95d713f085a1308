#!/usr/bin/env bash
# A short fuzz run over a copy of the seed corpus: FUZZER CORPUS SECONDS
set -euo pipefail
fuzzer=$1 corpus=$2 seconds=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$corpus"/. "$work"/
"$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=2048 "$work" 2>&1 | tail -n 20
