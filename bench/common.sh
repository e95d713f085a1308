# Sourced by the benchmarks that run inside a private network namespace (as root).
#
#   bench_in_netns "WINDOWS TARGETS" "HOST TARGETS" ARGS...
#       outside the namespace: installs what is missing, builds the targets and runs the
#       calling script again inside the namespace with ARGS; inside: returns at once.
#   bench_workdir
#       sets `work` to a fresh directory under build/ (readable by nginx's worker) that goes,
#       with the static server and the Wine session, when the script ends.

bench_in_netns() {
  local windows_targets=$1 host_targets=$2
  shift 2
  [ "${ZUNO_NETNS:-}" = "1" ] && return 0
  scripts/ensure-deps.sh >/dev/null
  cmake --preset windows >/dev/null
  # shellcheck disable=SC2086
  cmake --build --preset windows --target $windows_targets >/dev/null
  if [ -n "$host_targets" ]; then
    cmake --preset host >/dev/null
    # shellcheck disable=SC2086
    cmake --build --preset host --target $host_targets >/dev/null
  fi
  tests/harness/wine-env.sh build/windows/wine down
  exec tests/harness/netns.sh "$0" "$@"
}

# The demo setup with data after its image (it still runs), 100 MiB once packed, signed with
# the key this build pins: the installer starts nothing else.
make_big_signed_setup() {
  local out=$1 demo=build/windows/tests/demo_setup.exe signing=build/windows/signing
  # Room for the package header and the signature (about 2 KiB, added after the data).
  { cat "$demo"; head -c $((104857600 - 28 - 4096 - $(stat -c %s "$demo"))) /dev/urandom; } >"$out.unsigned"
  osslsigncode sign -certs "$signing/signer.crt" -key "$signing/signer.key" -h sha256 \
    -in "$out.unsigned" -out "$out" >/dev/null
  rm -f "$out.unsigned"
}

# The Wine session for runs of the installer: English, and the demo setup, which closes itself
# after a second, recording its command line in $log_unix.
bench_installer_session() {
  eval "$(tests/harness/wine-env.sh "$root/build/windows/wine" env)"
  wine reg add 'HKLM\SOFTWARE\Zuno' /v fGiaodien /t REG_DWORD /d 1 /f /reg:32 >/dev/null 2>&1
  # Machine variables: the installer passes on none of its user's own.
  log_unix=$work/demo.log
  local machine_env='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
  wine reg add "$machine_env" /v ZUNO_DEMO_SECONDS /d 1 /f >/dev/null 2>&1
  wine reg add "$machine_env" /v ZUNO_DEMO_LOG /d "$(winepath -w "$log_unix" 2>/dev/null)" /f >/dev/null 2>&1
}

bench_cleanup() {
  if [ -n "${WINEPREFIX:-}" ]; then
    local machine_env='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
    wine reg delete "$machine_env" /v ZUNO_DEMO_SECONDS /f >/dev/null 2>&1 || true
    wine reg delete "$machine_env" /v ZUNO_DEMO_LOG /f >/dev/null 2>&1 || true
  fi
  tests/harness/static-server.sh stop "$work/server"
  tests/harness/wine-env.sh "$root/build/windows/wine" down
  rm -rf "$work"
}

bench_workdir() {
  work=$(mktemp -d "$root/build/bench.XXXXXX")
  chmod 755 "$work"  # nginx serves from it as an unprivileged user
  trap bench_cleanup EXIT
}
