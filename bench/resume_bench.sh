#!/usr/bin/env bash
# A 100 MiB package from a download server whose every connection breaks after 20 MiB: the
# installer as built here against the installer as it was at BASELINE (a commit; by default
# the last one before broken downloads were resumed), both under Wine in the same run. For
# each: whether the setup was launched, the time from the start to the launch (or to the
# failure box), and the bytes and requests the server served.
# Runs inside a private network namespace (as root); the server is our scripted origin.
#   bench/resume_bench.sh [BASELINE]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
baseline=${1:-e3e84b5}
baseline_dir=$root/build/bench-baseline-$baseline

source bench/common.sh
if [ "${ZUNO_NETNS:-}" != "1" ] && [ ! -f "$baseline_dir/build/ZunoOnlineSetup.exe" ]; then
  rm -rf "$baseline_dir"
  mkdir -p "$baseline_dir/src"
  git archive "$baseline" | tar -x -C "$baseline_dir/src"
  cmake -S "$baseline_dir/src" -B "$baseline_dir/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$baseline_dir/src/cmake/mingw-i686.cmake" >/dev/null
  cmake --build "$baseline_dir/build" --target ZunoOnlineSetup >/dev/null
fi
bench_in_netns "ZunoOnlineSetup demo_setup driver" "zuno-pack" "$baseline"

bench_workdir
make_big_signed_setup "$work/setup.exe"
build/host/zuno-pack build "$work/setup.exe" "$work/origin.bin"
every=$((20 * 1048576))
python3 tests/download/fault_server.py 127.0.0.1 80 "$work/mode" --all-current </dev/null >/dev/null 2>"$work/origin.log" &
origin=$!
trap 'kill $origin 2>/dev/null || true; bench_cleanup' EXIT
for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/80) 2>/dev/null && break; sleep 0.05; done

bench_installer_session

now() { date +%s%N; }
# run NAME EXE: one installation through the driver (which answers the failure box)
run() {
  local name=$1 exe=$2 key
  key=origin-$name-$(date +%s%N)
  echo "resume/$key/every=$every" >"$work/mode"
  rm -f "$log_unix"
  local t0 t1
  t0=$(now)
  wine build/windows/tests/driver.exe --timeout 300 -- "$exe" </dev/null >"$work/$name.driver" 2>/dev/null || true
  t1=$(now)
  sleep 1.5   # the demo setup closes itself
  rm -rf "$WINEPREFIX/drive_c/users/$(id -un)/Temp/"0*.tmp "$WINEPREFIX/drive_c/windows/temp/"0*.tmp
  local served requests outcome
  served=$(sed -n 's/.*sent=//p' "$work/requests-$key.log" | paste -sd+ | bc)
  requests=$(wc -l <"$work/requests-$key.log")
  outcome="not launched (message 1)"
  [ -s "$log_unix" ] && outcome=launched
  printf '  %-22s %-26s %7d ms   served %6.1f MiB in %d requests\n' "$name" "$outcome" \
    $(( (t1 - t0) / 1000000 )) "$(echo "$served / 1048576" | bc -l)" "$requests"
}

printf '32-bit programs (Wine and our i686 code): %s\n' "$(scripts/i386-mode.sh)"
printf '100 MiB package, every connection broken after 20 MiB; start to launch or to the failure box\n'
run "this build" "build/windows/ZunoOnlineSetup.exe"
run "baseline $baseline" "$baseline_dir/build/ZunoOnlineSetup.exe"
