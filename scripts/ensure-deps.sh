#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the main job need, once.
# Safe to run again: it only asks apt for what is missing.
set -euo pipefail

packages=(
  cmake ninja-build make
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386 wine64
  xvfb x11-apps imagemagick
  googletest
  clang libclang-rt-14-dev
  nginx-light tinyproxy
  fonts-wine fonts-dejavu-core
  iproute2 util-linux procps curl python3 bc
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "ensure-deps: missing packages: ${missing[*]}; run as root or install them" >&2
  exit 1
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
# nginx and tinyproxy are started by the tests themselves, never as system services.
for svc in nginx tinyproxy; do
  if command -v systemctl >/dev/null 2>&1; then systemctl disable --now "$svc" >/dev/null 2>&1 || true; fi
  service "$svc" stop >/dev/null 2>&1 || true
done
