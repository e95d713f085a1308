#!/usr/bin/env bash
# scripts/ensure-deps.sh in a mount namespace against fakes (apt-get, dpkg, dpkg-query, systemctl, service,
# mount), a copy of /etc/apt, os-release, binfmt_misc, /usr/bin, /usr/sbin: nothing real changes. ARGS: SOURCE_DIR
set -euo pipefail
if [ "$1" != --inside ]; then
  [ "$(id -u)" -eq 0 ] && unshare --mount true 2>/dev/null || { echo "needs root and mount namespaces"; exit 77; }
  t=$(mktemp -d /run/zuno-ensure-deps-test.XXXXXX) && trap 'rmdir "$t"' EXIT
  unshare --mount --propagation private "$0" --inside "$(cd "$1" && pwd)" "$t"; exit
fi
src=$2 t=$3 failed=0 && mount -t tmpfs tmpfs "$t"
# The scripts run from a copy in $t: the mounts below would hide a checkout under /tmp.
mkdir -p $t/src/build && cp -a "$src/scripts" $t/src/ && src=$t/src
mkdir -p $t/bin $t/apt $t/o/{bin,sbin,wbin,wsbin} && touch $t/os-release && cp -a /etc/apt/. $t/apt
for d in bin sbin; do mount -t overlay overlay -o lowerdir=/usr/$d,upperdir=$t/o/$d,workdir=$t/o/w$d /usr/$d; done
mount -t tmpfs tmpfs /proc/sys/fs/binfmt_misc
for f in os-release apt; do mount --bind $t/$f /etc/$f; done
cat >$t/bin/fake <<'FAKE'
#!/bin/bash
s=${0%/bin/*}/state me=${0##*/} && echo "$me $*" >>$s/log
case $me in
  dpkg-query) grep -qxF -- "${!#}" $s/missing || echo 'install ok installed' ;;
  dpkg) case $1 in --print-*) cat $s/arch ;; --add-*) echo "$2" >>$s/arch ;; --remove-*) sed -i "/^$2\$/d" $s/arch ;; esac ;;
  apt-get) [ "$1" = install ] || { [ "${FAIL:-}" = update ] || [ "${FAIL:-}" = sync ] || exit 0
    sed -n "s/^URIs:/E: Failed to fetch/p" /etc/apt/sources.list.d/* >&2
    [ "$FAIL" = update ] || echo "E: Failed to fetch http://deb.example/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?" >&2
    exit 100; }
    /usr/sbin/policy-rc.d nginx start; echo "policy-rc.d answered $?" >>$s/log
    [ "${FAIL:-}" != install ] || exit 100
    for p; do sed -i "/^$p\$/d" $s/missing; done
    [[ " $* " != *" qemu-user "* ]] || printf '#!/bin/sh\necho qemu-i386 version 10.0.2\n' >/usr/bin/qemu-i386 ;;
esac
FAKE
chmod +x $t/bin/fake && for f in apt-get dpkg dpkg-query systemctl service mount; do ln -s fake $t/bin/$f; done
debian12='ID=debian\nVERSION_ID="12"\nVERSION_CODENAME=bookworm\nPRETTY_NAME="Debian GNU/Linux 12 (bookworm)"'
keyring=/usr/share/keyrings/debian-archive-keyring.gpg  # Debian's archive, first disabled, then a third party's:
decoys="Types: deb\nURIs: http://ftp.fr.debian.org/debian\nSuites: bookworm\nComponents: main\nSigned-By: $keyring
Enabled: no\n\nTypes: deb\nURIs: https://thirdparty.example/debian\nSuites: bookworm\nComponents: main
Signed-By: /usr/share/keyrings/thirdparty.gpg\n"
setup() {  # OS_RELEASE MISSING [APT_FILE CONTENT]...: a fresh fake machine, /etc/apt saved in $t/before
  rm -rf $t/state $t/before $t/apt/sources.list $t/apt/sources.list.d/* && mkdir $t/state && touch $t/state/arch
  [[ $2 == *:i386* ]] || echo i386 >$t/state/arch  # a missing i386 package: no i386 architecture either
  printf "$1\n" >$t/os-release && printf '%s\n' $2 >$t/state/missing && shift 2
  while [ $# -gt 0 ]; do printf "$2" >"$t/apt/$1" && shift 2; done
  printf 'Package: *\nPin: release n=bookworm-backports\nPin-Priority: -10\n' >$t/apt/preferences.d/zuno-backports
  printf '#!/bin/sh\necho qemu-i386 version 7.2.0\n' >/usr/bin/qemu-i386 && chmod +x /usr/bin/qemu-i386
  cp -a $t/apt $t/before
}
check() {  # WHAT CONDITION [VAR=VALUE]...: runs the script, the fakes first on the PATH
  local what=$1 condition=$2 && shift 2 && rc=0
  env -u TMPDIR PATH="$t/bin:$PATH" "$@" "$src/scripts/ensure-deps.sh" >$t/out 2>&1 || rc=$?
  eval "$condition" || { failed=1 && echo "FAILED: $what (exit $rc): $(cat $t/out)"; }
}
unchanged() { diff -r $t/before $t/apt >/dev/null && ! grep -q '^apt-get' $t/state/log; }
pins() ( cd $t/apt/preferences.d && for f in *; do cmp -s $f $t/before/preferences.d/$f || grep Package: $f; done )

# The release matters only when something must change.
setup 'ID=ubuntu\nVERSION_ID="22.04"\nPRETTY_NAME="Ubuntu 22.04"' ''
check "a complete Ubuntu machine" '[ $rc = 0 ] && [ ! -s $t/out ]'
setup 'ID=debian\nVERSION_ID="13"\nPRETTY_NAME="Debian 13"' tinyproxy
check "Debian 13 with a package missing" '[ $rc = 1 ] && grep -q "Debian 12 only" $t/out && unchanged'

# A running nginx is the owner's; tinyproxy, new, is kept from starting and disabled.
setup "$debian12" 'nginx-light tinyproxy'
policy=$(cat /usr/sbin/policy-rc.d 2>&1 || true)
check "new packages beside a running nginx" '[ $rc = 0 ] && grep -qx "policy-rc.d answered 101" $t/state/log &&
  grep -qx "systemctl disable --quiet tinyproxy" $t/state/log &&
  ! grep -E "^(systemctl|service).*nginx" $t/state/log && [ "$(cat /usr/sbin/policy-rc.d 2>&1 || true)" = "$policy" ]'

# apt failing: /etc/apt and the architectures as they were; the failing source is named; a mirror
# in the middle of a sync is told as such, and only then.
for fail in update install sync; do
  setup "$debian12" wine32:i386 sources.list "deb http://ftp.de.debian.org/debian/ bookworm main\n"
  check "a failing $fail" '[ $rc = 1 ] && diff -r $t/before $t/apt && [ ! -s $t/state/arch ] &&
    grep -q "apt-get ${fail/sync/update}.*failed" $t/out &&
    { [ $fail = install ] || grep -q "failing: .*http://ftp.de.debian.org" $t/out; } &&
    { grep -q "middle of a sync: wait" $t/out; [ $? = $([ $fail = sync ] && echo 0 || echo 1) ]; }' \
    ZUNO_I386=emulate FAIL=$fail
done

# The mirror: an enabled source of Debian's archive, known by keyring or address; else nothing.
while IFS='|' read -r file content want; do
  setup "$debian12" '' sources.list.d/a.sources "$decoys" "$file" "$content"
  check "mirror ${want:-none}" 'if [ -z "$want" ]; then
      [ $rc = 1 ] && grep -q "no enabled apt source of the Debian" $t/out && unchanged
    else [ $rc = 0 ] && grep -qx "URIs: $want" $t/apt/sources.list.d/zuno-backports.sources &&
      [ "$(pins)" = "Package: qemu-user" ]; fi' ZUNO_I386=emulate
done <<ROWS
sources.list.d/z.list|# deb http://deb.debian.org/debian bookworm main\ndeb https://thirdparty.example/debian bookworm main\n|
sources.list.d/z.list|deb [arch=amd64 signed-by=$keyring] http://mirror.example.org/debian bookworm main contrib\n|http://mirror.example.org/debian
sources.list.d/z.sources|Types: deb\nURIs: http://ftp.de.debian.org/debian/\nSuites: bookworm-updates bookworm\nComponents: main\n|http://ftp.de.debian.org/debian/
ROWS

# A folder mounted noexec is not taken for "no 32-bit programs"; with none left, the script says so.
setup "$debian12" ''
for d in "$src/build" /tmp; do [ ! -d "$d" ] || mount -t tmpfs -o noexec tmpfs "$d"; done
check "build tree and /tmp noexec" '[ $rc = 0 ] && [ ! -s $t/out ] && unchanged'
for d in /var/tmp /dev/shm; do mount -t tmpfs -o noexec tmpfs $d; done
check "every folder noexec" '[ $rc = 1 ] && grep -q "no folder lets programs run" $t/out && unchanged'
exit $failed
