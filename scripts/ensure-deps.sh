#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the main job need, and makes sure this
# machine runs 32-bit x86 programs. Safe to run again, and on a machine someone works on: it
# changes nothing when nothing is missing, starts no service, leaves running ones alone, and
# takes its apt changes back when apt fails.
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
# The tests start these servers themselves: installed by us, they are no system services.
# (unit:package that brings it)
services=(nginx:nginx-common tinyproxy:tinyproxy)

here=$(cd "$(dirname "$0")" && pwd)
export DEBIAN_FRONTEND=noninteractive
binfmt=/proc/sys/fs/binfmt_misc
qemu=/usr/bin/qemu-i386
policy=/usr/sbin/policy-rc.d
our_sources=/etc/apt/sources.list.d/zuno-backports.sources
our_preferences=/etc/apt/preferences.d/zuno-backports
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

fail() { echo "ensure-deps: $*" >&2; exit 1; }
need_root() { [ "$(id -u)" -eq 0 ] || fail "$1; run as root or do it by hand"; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
joined() {  # the arguments, separated by ", "
  local out=$1 a
  shift
  for a in "$@"; do out+=", $a"; done
  echo "$out"
}

qemu_version() {  # the version of the qemu user emulator at $1, or nothing
  "$1" --version 2>/dev/null | sed -n '1s/.*version \([0-9][0-9.]*\).*/\1/p' || true
}
qemu_major() {  # its major version, 0 when it does not answer
  local v
  v=$(qemu_version "$1")
  echo "${v%%.*}" | grep -E '^[0-9]+$' || echo 0
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

# --- Which apt source to take backports from ---------------------------------------------------
# Only an enabled "deb" source of the Debian archive itself, known by its keyring or its address:
# never a third-party repository that happens to serve a suite of the same name.
debian_uri='^([a-z]+[+])?https?://([a-z0-9-]+[.])*debian[.]org/debian/?$'

apt_source_files() {  # in apt's order: sources.list, then the parts by name
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*; do
    case $f in *.list | *.sources) [ ! -f "$f" ] || echo "$f" ;; esac
  done
}

debian_sources() {  # "URI<TAB>keyring" of each enabled Debian archive source of suite $1 with main
  local f
  while read -r f; do
    case $f in
      *.sources) awk -v suite="$1" -v uri_re="$debian_uri" '
        function has(list, word,   n, a, i) {
          n = split(list, a, /[ \t]+/)
          for (i = 1; i <= n; i++) if (a[i] == word) return 1
          return 0
        }
        function flush(   n, u, i, debian, keyring) {
          if (has(f["types"], "deb") && tolower(f["enabled"]) != "no" && has(f["suites"], suite) &&
              has(f["components"], "main")) {
            debian = f["signed-by"] ~ /debian-archive-keyring/
            keyring = f["signed-by"] ~ /^\// ? f["signed-by"] : ""  # not a key written in place
            n = split(f["uris"], u, /[ \t]+/)
            for (i = 1; i <= n; i++) if (u[i] != "" && (debian || u[i] ~ uri_re)) print u[i] "\t" keyring
          }
          delete f
          key = ""
        }
        /^#/ { next }
        /^[ \t]*$/ { flush(); next }
        /^[ \t]/ { if (key != "") f[key] = f[key] " " $0; next }  # a field continued
        {
          key = tolower(substr($0, 1, index($0, ":") - 1))
          f[key] = substr($0, index($0, ":") + 1)
          gsub(/^[ \t]+|[ \t]+$/, "", f[key])
        }
        END { flush() }' "$f" ;;
      *) sed -e 's/#.*//' "$f" | awk -v suite="$1" -v uri_re="$debian_uri" '
        # deb [option=value ...] URI SUITE COMPONENTS...
        $1 != "deb" { next }
        {
          line = $0; opts = ""; keyring = ""; main = 0
          sub(/^[ \t]+/, "", line)
          if (match(line, /\[[^]]*\]/)) {
            opts = substr(line, RSTART + 1, RLENGTH - 2)
            line = substr(line, 1, RSTART - 1) substr(line, RSTART + RLENGTH)
          }
          if (match(opts, /signed-by=[^ \t]+/)) keyring = substr(opts, RSTART + 10, RLENGTH - 10)
          n = split(line, w, /[ \t]+/)
          for (i = 4; i <= n; i++) if (w[i] == "main") main = 1
          if (w[3] == suite && main && (keyring ~ /debian-archive-keyring/ || w[2] ~ uri_re)) print w[2] "\t" keyring
        }' ;;
    esac
  done < <(apt_source_files)
}

# --- apt's setup, changed as one step ---------------------------------------------------------
work=
saved=()  # the apt files this run wrote; their former content is in $work
arch_added=0
policy_held=0

put_apt_file() {  # writes $2 to $1, keeping what was there to put back
  local n=${#saved[@]}
  if [ -e "$1" ]; then cp -p "$1" "$work/saved.$n"; fi
  saved+=("$1")
  printf '%s\n' "$2" >"$1"
}

take_back() {  # apt's setup as it was before this run
  local i
  for i in "${!saved[@]}"; do
    if [ -e "$work/saved.$i" ]; then cp -p "$work/saved.$i" "${saved[$i]}"; else rm -f "${saved[$i]}"; fi
  done
  saved=()
  if [ "$arch_added" = 1 ] && ! dpkg --remove-architecture i386 2>/dev/null; then
    echo "ensure-deps: the i386 architecture stays: some of its packages got installed" >&2
  fi
  arch_added=0
}

finish() {  # on any exit: services may start again; an unfinished apt step is taken back
  if [ "$policy_held" = 1 ]; then
    rm -f "$policy"
    if [ -e "$work/policy-rc.d" ] || [ -L "$work/policy-rc.d" ]; then mv "$work/policy-rc.d" "$policy"; fi
  fi
  take_back
  [ -z "$work" ] || rm -rf "$work"
}

hold_services() {  # a policy-rc.d that keeps every service from starting (the owner's kept aside)
  if [ -e "$policy" ] || [ -L "$policy" ]; then mv "$policy" "$work/policy-rc.d"; fi
  policy_held=1
  printf '#!/bin/sh\n# ensure-deps is installing packages: no service starts meanwhile.\nexit 101\n' >"$policy"
  chmod 755 "$policy"
}

apt_failed() {  # $1: what failed, $2: apt's messages
  local sources log=$2
  mapfile -t sources < <(sed -n -e "s/^[EW]: Failed to fetch \([^ ]*\).*/\1/p" \
    -e "s/^[EW]: The repository '\([^']*\)'.*/\1/p" "$2" | sort -u)
  sed 's/^/  /' "$2" >&2
  [ ${#sources[@]} -eq 0 ] || set -- "$1 (failing: $(joined "${sources[@]}"))"
  take_back
  if grep -q -e 'File has unexpected size' -e 'Mirror sync in progress' -e 'Hash Sum mismatch' "$log"; then
    fail "$1; apt's setup is back as it was. An index whose size or hash does not match usually means" \
      "the mirror is in the middle of a sync: wait (it can take hours) and run this again. If it" \
      "stays, see \"When the package mirror serves a broken index\" in tests/README.md"
  fi
  fail "$1; apt's setup is back as it was"
}

# Installs the packages $@, with the i386 architecture and, for qemu-user, the backports source
# ($backports: "URI<TAB>keyring", empty when the machine has one) and a pin for qemu-user alone.
apt_install() {
  local entry unit pkg new_units=()
  work=$(mktemp -d)
  trap finish EXIT
  trap 'exit 130' INT TERM HUP
  for entry in "${services[@]}"; do
    installed "${entry#*:}" || new_units+=("$entry")
  done
  if printf '%s\n' "$@" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    arch_added=1
  fi
  if printf '%s\n' "$@" | grep -qx qemu-user; then
    if [ -n "$backports" ]; then
      local uri=${backports%%$'\t'*} keyring=${backports#*$'\t'}
      put_apt_file "$our_sources" "Types: deb
URIs: $uri
Suites: $codename-backports
Components: main${keyring:+
Signed-By: $keyring}"
    fi
    # qemu-user alone comes from Debian's backports; nothing else changes its preference.
    put_apt_file "$our_preferences" "Package: qemu-user
Pin: release o=Debian Backports,n=$codename-backports
Pin-Priority: 990"
  fi
  apt-get update -qq --error-on=any 2>"$work/apt.log" || apt_failed "apt-get update failed" "$work/apt.log"
  hold_services
  apt-get install -y -qq --no-install-recommends "$@" >/dev/null 2>"$work/apt.log" ||
    apt_failed "apt-get install $* failed" "$work/apt.log"
  saved=() arch_added=0  # done: the new setup stays
  for entry in "${new_units[@]}"; do
    unit=${entry%%:*} pkg=${entry#*:}
    installed "$pkg" || continue
    if { command -v systemctl >/dev/null && systemctl disable --quiet "$unit"; } ||
      update-rc.d "$unit" disable 2>/dev/null; then
      did+=("disabled the new service $unit")
    else
      echo "ensure-deps: could not disable the new service $unit: it may start at the next boot" >&2
    fi
  done
}

check_release() {  # $1: what must change
  local id version name
  # shellcheck disable=SC1091
  { read -r id; read -r version; read -r codename; read -r name; } < <(
    . /etc/os-release && printf '%s\n' "${ID:-}" "${VERSION_ID:-}" "${VERSION_CODENAME:-}" "${PRETTY_NAME:-}")
  [ "$id" = debian ] && [ "$version" = 12 ] && return 0
  fail "$1; this script installs packages on Debian 12 only, and this is $name:" \
    "nothing was changed; install them by hand"
}

# --- What must change -------------------------------------------------------------------------
missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done

# Emulators older than 8 cost about a minute of CPU per Wine process: they are replaced. One was
# registered because this kernel does not run 32-bit programs itself.
old=()
for entry in $(i386_entries); do
  [ "$(qemu_major "$(sed -n 's/^interpreter //p' "$entry")")" -ge 8 ] || old+=("$entry")
done
probe() {  # true when 32-bit programs run as they should; $mode says how
  local status=0
  mode=$("$here/i386-mode.sh") || status=$?
  [ "$status" -ne 2 ] || fail "cannot tell whether this machine runs 32-bit programs (see above); nothing was changed"
  # ZUNO_I386=emulate takes the emulator where the kernel would do (to try that path here).
  [ "$status" -eq 0 ] && { [ "${ZUNO_I386:-}" != emulate ] || [ "$mode" != native ]; }
}
emulate=0
if [ ${#old[@]} -gt 0 ] || ! probe; then emulate=1; fi
wanted=("${missing[@]}")
[ "$emulate" = 0 ] || [ "$(qemu_major "$qemu")" -ge 8 ] || wanted+=(qemu-user)
[ "$emulate" = 1 ] || [ ${#missing[@]} -gt 0 ] || exit 0

did=()
codename=
if [ ${#wanted[@]} -gt 0 ]; then
  check_release "missing: $(joined "${wanted[@]}")"
  need_root "missing: $(joined "${wanted[@]}")"
  backports=
  if [[ " ${wanted[*]} " == *" qemu-user "* ]] && [ -z "$(debian_sources "$codename-backports")" ]; then
    mapfile -t found < <(debian_sources "$codename")
    backports=${found[0]:-}
    [ -n "$backports" ] || fail "qemu-user 8 or newer comes from Debian's $codename-backports, and no" \
      "enabled apt source of the Debian archive for $codename was found to take it from: add one" \
      "(e.g. \"deb http://deb.debian.org/debian $codename main\" in /etc/apt/sources.list); nothing was changed"
  fi
  apt_install "${wanted[@]}"
  did=("installed ${wanted[*]}" "${did[@]}")
fi

# --- 32-bit programs --------------------------------------------------------------------------
# Wine runs our i686 programs through its 32-bit loader, a 32-bit Linux program. Where the kernel
# has its 32-bit emulation switched off, qemu's user-mode emulator runs them, registered with
# binfmt_misc.
if [ "$emulate" = 1 ]; then
  need_root "this kernel does not run 32-bit programs and no qemu-i386 (qemu 8 or newer) is registered with binfmt_misc"
  for entry in "${old[@]}"; do
    echo -1 >"$entry"
    did+=("removed the registration of $(basename "$entry") (older than qemu 8)")
  done
  [ "$(qemu_major "$qemu")" -ge 8 ] || fail "$qemu is qemu $(qemu_version "$qemu"), not 8 or newer"
  if ! probe; then
    if [ ! -f "$binfmt/status" ]; then
      mount -t binfmt_misc binfmt_misc "$binfmt"
      did+=("mounted binfmt_misc")
    fi
    # A leftover entry of our name that is switched off is dropped before registering anew.
    [ ! -f "$binfmt/qemu-i386" ] || echo -1 >"$binfmt/qemu-i386"
    # F: the kernel opens the emulator now, so it also serves private mount namespaces.
    echo ":qemu-i386:M::$i386_magic:$i386_mask:$qemu:F" >"$binfmt/register"
    did+=("registered $qemu ($(qemu_version "$qemu")) for i386 programs")
    mode=$("$here/i386-mode.sh") || fail "32-bit programs still do not run after: $(joined "${did[@]}")"
  fi
fi
echo "ensure-deps: $(joined "${did[@]}"); 32-bit programs: $mode"
