#!/usr/bin/env bash
# The package tool as its users call it: exit codes, messages, and no half-written files.
set -uo pipefail
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0

check() {  # check WHAT EXPECTED_STATUS COMMAND...
  local what=$1 expected=$2
  shift 2
  "$@" >out.txt 2>err.txt
  local status=$?
  if [ "$status" -ne "$expected" ]; then
    echo "FAIL: $what: exit $status, expected $expected"; cat err.txt
    failures=$((failures + 1))
  fi
}
expect_text() {  # expect_text WHAT PATTERN FILE
  if ! grep -q -- "$2" "$3"; then
    echo "FAIL: $1: '$2' not in $3:"; cat "$3"
    failures=$((failures + 1))
  fi
}
expect_no_file() {
  if ls "$1"* >/dev/null 2>&1; then
    echo "FAIL: left behind: $(ls "$1"*)"
    failures=$((failures + 1))
  fi
}

check "help" 0 "$tool" --help
expect_text "help" "zuno-pack build SETUP PACKAGE" out.txt
check "no arguments" 64 "$tool"
check "bad key" 64 "$tool" build x y --key 12345
expect_text "bad key" "8 hex digits" err.txt

# Round trips: random sizes and keys, including the block and chunk boundaries.
for size in 1 15 16 63 64 65 40959 40960 40961 1000000; do
  head -c "$size" /dev/urandom >setup.bin
  check "build $size" 0 "$tool" build setup.bin pkg.dat
  check "decode $size" 0 "$tool" decode pkg.dat plain.bin
  cmp -s setup.bin plain.bin || { echo "FAIL: round trip of $size bytes differs"; failures=$((failures + 1)); }
  [ "$(stat -c %s pkg.dat)" -eq $((size + 28)) ] || { echo "FAIL: package size for $size"; failures=$((failures + 1)); }
done

# A given key lands in the header in file order.
printf 'A' >one.bin
check "build with key" 0 "$tool" build one.bin keyed.dat --key 0a0b0c0d
[ "$(od -An -tx1 -j4 -N4 keyed.dat | tr -d ' ')" = "0a0b0c0d" ] || { echo "FAIL: key bytes"; failures=$((failures + 1)); }
[ "$(head -c4 keyed.dat)" = "HCSI" ] || { echo "FAIL: magic"; failures=$((failures + 1)); }

# Failures: each with its status and words, and no output under the final name.
head -c 5000 /dev/urandom >setup.bin
"$tool" build setup.bin good.dat
cp good.dat tampered.dat
printf '\x00' | dd of=tampered.dat bs=1 seek=3000 conv=notrunc status=none
check "tampered" 6 "$tool" decode tampered.dat out1.bin
expect_text "tampered" "digest mismatch" err.txt
expect_no_file out1.bin

head -c 28 good.dat >short.dat
check "28 bytes" 7 "$tool" decode short.dat out2.bin
expect_no_file out2.bin
: >empty.dat
check "empty" 2 "$tool" decode empty.dat out3.bin
expect_no_file out3.bin
head -c 4000 good.dat >cut.dat
check "cut short" 1 "$tool" decode cut.dat out4.bin
expect_text "cut short" "bad header" err.txt
check "missing package" 7 "$tool" decode nosuch.dat out5.bin
expect_text "missing package" "No such file" err.txt
check "missing setup" 7 "$tool" build nosuch.bin out6.dat
expect_no_file out6.dat
: >empty.bin
check "empty setup" 2 "$tool" build empty.bin out7.dat
expect_no_file out7.dat
check "unwritable output" 5 "$tool" decode good.dat /nonexistent-dir/out.bin

# An existing output is replaced only by a complete one; a failed decode leaves it as it was.
echo "earlier" >kept.bin
check "tampered over existing" 6 "$tool" decode tampered.dat kept.bin
[ "$(cat kept.bin)" = "earlier" ] || { echo "FAIL: existing output changed"; failures=$((failures + 1)); }

# A full disk: /dev/full takes nothing. The temporary beside it cannot be made, so use a
# small tmpfs where one can be mounted (root); otherwise this case is skipped.
if [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null; then
  head -c 300000 /dev/urandom >big.bin
  "$tool" build big.bin big.dat
  unshare --mount bash -c "
    mkdir -p '$work/small' && mount -t tmpfs -o size=64k tmpfs '$work/small' &&
    '$tool' decode '$work/big.dat' '$work/small/out.bin' 2>'$work/err.txt'; echo \$? >'$work/status.txt';
    ls '$work/small' >'$work/left.txt'"
  [ "$(cat status.txt)" = "5" ] || { echo "FAIL: full disk status $(cat status.txt)"; failures=$((failures + 1)); }
  expect_text "full disk" "No space left" err.txt
  [ ! -s left.txt ] || { echo "FAIL: full disk left $(cat left.txt)"; failures=$((failures + 1)); }
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "zuno-pack: all cases passed"
