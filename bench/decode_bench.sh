#!/usr/bin/env bash
# Decoding a 100 MiB package, natively and under Wine, against the work any decoder must do:
# md5sum over the same payload plus cp of the package, timed in the same run.
#   bench/decode_bench.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-3}

scripts/ensure-deps.sh >/dev/null
cmake --preset host >/dev/null && cmake --build --preset host --target zuno-pack >/dev/null
cmake --preset windows >/dev/null && cmake --build --preset windows --target decode_bench >/dev/null
tool=$root/build/host/zuno-pack

work=$(mktemp -d "$root/build/bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
head -c $((104857600 - 28)) /dev/urandom >"$work/payload.bin"
"$tool" build "$work/payload.bin" "$work/package.dat"
cat "$work/payload.bin" "$work/package.dat" >/dev/null   # into the page cache

now() { date +%s%N; }
best_ms() {  # best wall time of RUNS runs of a command, in ms
  local best=
  for _ in $(seq "$runs"); do
    local t0 t1
    t0=$(now); "$@" >/dev/null; t1=$(now)
    local ms=$(( (t1 - t0) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}

md5=$(best_ms md5sum "$work/payload.bin")
copy=$(best_ms cp "$work/package.dat" "$work/copy.dat")
native=$(best_ms "$tool" decode "$work/package.dat" "$work/native.out")
cmp "$work/payload.bin" "$work/native.out"

eval "$(tests/harness/wine-env.sh build/windows/wine env)"
wine_ms=$(wine "$root/build/windows/decode_bench.exe" "$work/package.dat" "$work/wine.out" "$runs" | tr -d '\r')
cmp "$work/payload.bin" "$work/wine.out"

floor=$((md5 + copy))
printf '32-bit programs (Wine and our i686 code): %s\n' "$(scripts/i386-mode.sh)"
printf 'package: 100 MiB (104857600 bytes), best of %s runs\n' "$runs"
printf '  md5sum of the payload      %6d ms\n' "$md5"
printf '  cp of the package          %6d ms\n' "$copy"
printf '  floor (md5sum + cp)        %6d ms\n' "$floor"
printf '  zuno-pack decode (native)  %6d ms   ratio %.2f\n' "$native" "$(echo "$native / $floor" | bc -l)"
printf '  DecodePackageFile (Wine)   %6.0f ms   ratio %.2f\n' "$wine_ms" "$(echo "$wine_ms / $floor" | bc -l)"
