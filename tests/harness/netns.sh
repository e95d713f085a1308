#!/usr/bin/env bash
# Runs a command in a private network namespace: only a loopback device, the download hosts
# mapped to 127.0.0.1, no name server that answers, and a wineserver of its own.
#   netns.sh COMMAND [ARGS...]
# Without root (or without unshare) the command runs as it is, with ZUNO_NETNS unset: the
# tests that need the private network then skip themselves.
set -euo pipefail

if [ "${ZUNO_NETNS:-}" = "1" ]; then exec "$@"; fi

if [ "${1:-}" = "--inside" ]; then
  shift
  ip link set lo up
  # Mount changes stay inside this namespace.
  mount --make-rprivate /
  etc=$(mktemp -d /tmp/zuno-netns.XXXXXX)
  cat >"$etc/hosts" <<'HOSTS'
127.0.0.1 localhost
127.0.0.1 download.zuno.example origin.zuno.example mirror.zuno.example
HOSTS
  # Loopback port 53 has no server: lookups of other names fail at once.
  echo "nameserver 127.0.0.1" >"$etc/resolv.conf"
  mount --bind "$etc/hosts" /etc/hosts
  mount --bind "$etc/resolv.conf" /etc/resolv.conf
  # A wineserver socket directory of our own: no wineserver outside is ever reached.
  mkdir -p "/tmp/.wine-$(id -u)"
  mount -t tmpfs -o mode=700 tmpfs "/tmp/.wine-$(id -u)"
  export ZUNO_NETNS=1
  unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY
  status=0
  "$@" || status=$?
  rm -rf "$etc"
  exit $status
fi

if [ "$(id -u)" -ne 0 ] || ! unshare --net --mount true 2>/dev/null; then
  echo "netns: not root or no namespaces: running without the private network" >&2
  exec "$@"
fi

here=$(cd "$(dirname "$0")" && pwd)
exec unshare --net --mount --fork "$here/netns.sh" --inside "$@"
