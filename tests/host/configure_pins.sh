#!/usr/bin/env bash
# The Windows build's signer pins, as its configure step takes them:
#   - a real download host (outside .example) without pins is refused, with the reason;
#   - two pins reach the program, ';' between them;
#   - a malformed pin is refused;
#   - a real host must name the oldest setup it starts, which reaches the program.
#   configure_pins.sh SOURCE_DIR WORK_DIR
set -euo pipefail
src=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
configure() {  # DIR ARGS...
  local dir=$1
  shift
  cmake -S "$src" -B "$work/$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" "$@" >"$work/$dir.log" 2>&1
}
fail() { echo "configure_pins: $*" >&2; exit 1; }
says() { tr -s ' \n' ' ' <"$work/$1.log" | grep -q "$2"; }  # (CMake wraps its messages)

if configure real -DZUNO_DOWNLOAD_HOST=download.example.com; then fail "a real host without pins was accepted"; fi
says real "no signer is pinned" || fail "the refusal does not say why: $(tail -5 "$work/real.log")"

a=$(printf 'a%.0s' $(seq 64))
b=$(printf 'B%.0s' $(seq 64))
if configure nomin -DZUNO_DOWNLOAD_HOST=download.example.com "-DZUNO_SIGNER_PINS=$a"; then
  fail "a real host without a minimum setup version was accepted"
fi
says nomin "name the oldest setup" || fail "the refusal does not say why: $(tail -5 "$work/nomin.log")"
configure two -DZUNO_DOWNLOAD_HOST=download.example.com "-DZUNO_SIGNER_PINS=$a;$b" -DZUNO_MIN_SETUP_VERSION=3.10.0.7 ||
  fail "two pins were refused"
grep -q "L\"$a;$b\"" "$work/two/generated/setup_release.h" || fail "the pins did not reach the program"
grep -q "(uint64_t{3} << 48) | (uint64_t{10} << 32) | (uint64_t{0} << 16) | uint64_t{7}" \
  "$work/two/generated/setup_release.h" || fail "the minimum version did not reach the program"

if configure bad "-DZUNO_SIGNER_PINS=$a;xyz"; then fail "a malformed pin was accepted"; fi
says bad "is not 64 hexadecimal digits" || fail "the refusal of a malformed pin does not say why"
echo "configure_pins: ok"
