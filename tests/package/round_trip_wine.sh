#!/usr/bin/env bash
# Round trips between the Windows zuno-pack under Wine and the native one:
#   WINE_ENV STATE WINDOWS_TOOL NATIVE_TOOL
set -euo pipefail
wine_env=$1 state=$2 win_tool=$3 native_tool=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
wintool() { "$wine_env" "$state" run "$win_tool" "$@"; }

failures=0
for size in 1 17 40961 300000; do
  head -c "$size" /dev/urandom >"$work/setup.bin"
  key=$(head -c4 /dev/urandom | od -An -tx1 | tr -d ' \n')
  # Windows tool both ways.
  wintool build "$work/setup.bin" "$work/w.dat" --key "$key"
  wintool decode "$work/w.dat" "$work/w.out"
  cmp -s "$work/setup.bin" "$work/w.out" || { echo "FAIL: wine round trip $size"; failures=$((failures+1)); }
  if [ -x "$native_tool" ]; then
    # Built natively, decoded under Wine; built under Wine, decoded natively.
    "$native_tool" build "$work/setup.bin" "$work/n.dat" --key "$key"
    cmp -s "$work/n.dat" "$work/w.dat" || { echo "FAIL: packages differ for the same key, $size"; failures=$((failures+1)); }
    wintool decode "$work/n.dat" "$work/nw.out"
    "$native_tool" decode "$work/w.dat" "$work/wn.out"
    cmp -s "$work/setup.bin" "$work/nw.out" || { echo "FAIL: native -> wine $size"; failures=$((failures+1)); }
    cmp -s "$work/setup.bin" "$work/wn.out" || { echo "FAIL: wine -> native $size"; failures=$((failures+1)); }
  fi
done
# A damaged package reports status 6 through Wine as well.
printf '\x00' | dd of="$work/w.dat" bs=1 seek=100 conv=notrunc status=none
set +e
wintool decode "$work/w.dat" "$work/bad.out" 2>/dev/null
status=$?
set -e
[ "$status" -eq 6 ] || { echo "FAIL: damaged package status $status"; failures=$((failures+1)); }
[ ! -e "$work/bad.out" ] || { echo "FAIL: damaged package left output"; failures=$((failures+1)); }

[ "$failures" -eq 0 ] || exit 1
if [ ! -x "$native_tool" ]; then echo "native tool not built: only the Wine round trips ran"; exit 77; fi
echo "round trips passed"
