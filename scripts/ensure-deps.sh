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
  openssl osslsigncode
)

here=$(cd "$(dirname "$0")" && pwd)
export DEBIAN_FRONTEND=noninteractive

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "ensure-deps: $1; run as root or do it by hand" >&2
    exit 1
  fi
}

install_packages() {
  local missing=() p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  need_root "missing packages: ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  # nginx and tinyproxy are started by the tests themselves, never as system services.
  for svc in nginx tinyproxy; do
    if command -v systemctl >/dev/null 2>&1; then systemctl disable --now "$svc" >/dev/null 2>&1 || true; fi
    service "$svc" stop >/dev/null 2>&1 || true
  done
}

# --- 32-bit programs -------------------------------------------------------------------------
# Wine runs our i686 programs through its 32-bit loader, a 32-bit Linux program. Some kernels
# have their 32-bit emulation switched off; there qemu's user-mode emulator runs them, registered
# with binfmt_misc. qemu older than 8 costs about a minute of CPU per Wine process: not usable.

binfmt=/proc/sys/fs/binfmt_misc
qemu=/usr/bin/qemu-i386
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

qemu_version() {  # the version of the qemu user emulator at $1, or nothing
  "$1" --version 2>/dev/null | sed -n '1s/.*version \([0-9][0-9.]*\).*/\1/p' || true
}

qemu_major() {  # its major version, 0 when it does not answer
  local v
  v=$(qemu_version "$1")
  echo "${v%%.*}" | grep -E '^[0-9]+$' || echo 0
}

# The mirror of this machine's own Debian release, from its apt sources (deb822 or one-line).
debian_mirror() {
  local codename=$1 f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk -v want="$codename" '
      function flush() { if (uri != "" && hit) print uri; uri = ""; hit = 0 }
      /^[ \t]*$/ { flush(); next }
      tolower($1) == "uris:" { uri = $2 }
      tolower($1) == "suites:" { for (i = 2; i <= NF; i++) if ($i == want) hit = 1 }
      END { flush() }' "$f"
  done
  if [ -f /etc/apt/sources.list ]; then
    # deb [options] URI SUITE COMPONENTS...
    sed -e 's/#.*//' -e 's/\[[^]]*\]//' /etc/apt/sources.list |
      awk -v want="$codename" '$1 == "deb" && $3 == want { print $2 }'
  fi
}

install_qemu_user() {
  local codename mirror
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || { echo "ensure-deps: cannot tell this machine's Debian release" >&2; exit 1; }
  mirror=$(debian_mirror "$codename" | head -n1)
  [ -n "$mirror" ] || { echo "ensure-deps: no Debian mirror for $codename in the apt sources" >&2; exit 1; }
  cat >/etc/apt/sources.list.d/zuno-backports.sources <<EOF
Types: deb
URIs: $mirror
Suites: $codename-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  # Only qemu-user comes from backports; nothing else is ever taken from there.
  cat >/etc/apt/preferences.d/zuno-backports <<EOF
Package: *
Pin: release n=$codename-backports
Pin-Priority: -10

Package: qemu-user
Pin: release n=$codename-backports
Pin-Priority: 990
EOF
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends qemu-user >/dev/null
}

i386_entries() {  # the binfmt_misc entries that take i386 ELF programs
  local entry
  [ -f "$binfmt/status" ] || return 0
  for entry in "$binfmt"/*; do
    case $(basename "$entry") in register | status) continue ;; esac
    grep -q '^magic 7f454c4601010100000000000000000002000300' "$entry" 2>/dev/null && echo "$entry"
  done
  return 0
}

joined() {  # the arguments, separated by ", "
  local out=$1
  shift
  for a in "$@"; do out+=", $a"; done
  echo "$out"
}

ensure_i386() {
  local did=() entry interp mode
  # A registration whose emulator is missing or older than 8 is replaced.
  for entry in $(i386_entries); do
    interp=$(sed -n 's/^interpreter //p' "$entry")
    if [ "$(qemu_major "$interp")" -lt 8 ]; then
      need_root "the i386 emulator $interp ($(basename "$entry")) is older than qemu 8 and must be replaced"
      echo -1 >"$entry"
      did+=("removed the registration of $interp (too old)")
    fi
  done
  if mode=$("$here/i386-mode.sh") && { [ "${ZUNO_I386:-}" != emulate ] || [ "$mode" != native ]; }; then
    [ ${#did[@]} -eq 0 ] || echo "ensure-deps: $(joined "${did[@]}"); 32-bit programs: $mode"
    return 0
  fi
  # ZUNO_I386=emulate takes the emulator where the kernel would do (to try that path here).
  need_root "this kernel does not run 32-bit programs and no qemu-i386 (qemu 8 or newer) is registered with binfmt_misc"
  if [ "$(qemu_major "$qemu")" -lt 8 ]; then
    install_qemu_user
    did+=("installed qemu-user $(qemu_version "$qemu") from backports")
  fi
  if [ ! -f "$binfmt/status" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt"
    did+=("mounted binfmt_misc")
  fi
  # A leftover entry of our name that is switched off is dropped before registering anew.
  [ -f "$binfmt/qemu-i386" ] && echo -1 >"$binfmt/qemu-i386"
  # F: the kernel opens the emulator now, so it also serves private mount namespaces.
  echo ":qemu-i386:M::$i386_magic:$i386_mask:$qemu:F" >"$binfmt/register"
  did+=("registered $qemu for i386 programs")
  if ! mode=$("$here/i386-mode.sh"); then
    echo "ensure-deps: 32-bit programs still do not run after: $(joined "${did[@]}")" >&2
    exit 1
  fi
  echo "ensure-deps: $(joined "${did[@]}"); 32-bit programs: $mode"
}

install_packages
ensure_i386
