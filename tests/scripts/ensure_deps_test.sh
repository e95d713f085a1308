#!/usr/bin/env bash
# scripts/ensure-deps.sh on a machine someone works on, in a private mount namespace against
# fakes: a copy of /etc/apt, one fake for apt-get, dpkg, dpkg-query, systemctl, service and
# mount, a bound os-release, a tmpfs over binfmt_misc, overlays over /usr/bin and /usr/sbin.
# Nothing real is installed, registered or stopped.
#   ensure_deps_test.sh SOURCE_DIR
set -euo pipefail
if [ "$1" != --inside ]; then
  [ "$(id -u)" -eq 0 ] && unshare --mount true 2>/dev/null || { echo "needs root and mount namespaces"; exit 77; }
  t=$(mktemp -d /run/zuno-ensure-deps-test.XXXXXX) status=0
  unshare --mount --propagation private "$0" --inside "$(cd "$1" && pwd)" "$t" || status=$?
  rmdir "$t" && exit $status
fi
src=$2 t=$3 failed=0
mount -t tmpfs tmpfs "$t"
mkdir -p $t/bin $t/apt $t/before $t/o/{bin,sbin,wbin,wsbin}
for d in bin sbin; do mount -t overlay overlay -o lowerdir=/usr/$d,upperdir=$t/o/$d,workdir=$t/o/w$d /usr/$d; done
mount -t tmpfs tmpfs /proc/sys/fs/binfmt_misc && echo enabled >/proc/sys/fs/binfmt_misc/status
touch $t/os-release && mount --bind $t/os-release /etc/os-release
cp -a /etc/apt/. $t/apt && mount --bind $t/apt /etc/apt
rm -f $t/apt/sources.list $t/apt/sources.list.d/*
cat >$t/bin/fake <<'FAKE'
#!/bin/bash
s=${0%/bin/*}/state me=${0##*/}
echo "$me $*" >>$s/log
case $me in
  dpkg-query) grep -qxF -- "${!#}" $s/missing || echo 'install ok installed' ;;
  dpkg) case $1 in --print-foreign-architectures) cat $s/arch ;; --add-architecture) echo "$2" >>$s/arch ;;
        --remove-architecture) sed -i "/^$2\$/d" $s/arch ;; esac ;;
  apt-get) [ "$1" = install ] || { [ ! -e $s/fail-update ] && exit 0; echo "E: Failed to fetch $(sed -n \
      's/^URIs: //p' /etc/apt/sources.list.d/* 2>/dev/null)/dists/bookworm-backports/InRelease  404  Not Found" >&2; exit 100; }
    /usr/sbin/policy-rc.d nginx start; echo "policy-rc.d answered $?" >>$s/log
    [ ! -e $s/fail-install ] || exit 100
    for p; do sed -i "/^$p\$/d" $s/missing; done
    [[ " $* " != *" qemu-user "* ]] || printf '#!/bin/sh\necho qemu-i386 version 10.0.2\n' >/usr/bin/qemu-i386 ;;
esac
FAKE
chmod +x $t/bin/fake && for f in apt-get dpkg dpkg-query systemctl service mount; do ln -s fake $t/bin/$f; done
debian12='ID=debian\nVERSION_ID="12"\nVERSION_CODENAME=bookworm\nPRETTY_NAME="Debian GNU/Linux 12 (bookworm)"'
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
decoys="Types: deb\nURIs: http://ftp.fr.debian.org/debian\nSuites: bookworm\nComponents: main\nSigned-By: $keyring
Enabled: no\n\nTypes: deb\nURIs: https://thirdparty.example/debian\nSuites: bookworm\nComponents: main
Signed-By: /usr/share/keyrings/thirdparty.gpg\n"

setup() {  # OS_RELEASE MISSING [APT_FILE CONTENT]...: a fresh fake machine, /etc/apt saved in $t/before
  rm -rf $t/state $t/before /etc/apt/sources.list /etc/apt/sources.list.d/* && mkdir $t/state && echo i386 >$t/state/arch
  printf "$1\n" >$t/os-release && printf '%s\n' $2 >$t/state/missing && shift 2
  while [ $# -gt 0 ]; do printf "$2" >"/etc/apt/$1" && shift 2; done
  printf 'Package: *\nPin: release n=bookworm-backports\nPin-Priority: -10\n' >/etc/apt/preferences.d/zuno-backports
  printf '#!/bin/sh\necho qemu-i386 version 7.2.0\n' >/usr/bin/qemu-i386 && chmod +x /usr/bin/qemu-i386
  cp -a /etc/apt $t/before
}
run() {  # [VAR=VALUE]...: the script with the fakes first on the PATH
  rc=0 && env -u TMPDIR PATH="$t/bin:$PATH" "$@" "$src/scripts/ensure-deps.sh" >$t/out 2>&1 || rc=$?
}
check() {  # WHAT CONDITION
  eval "$2" || { failed=1 && echo "FAILED: $1 (exit $rc): $(cat $t/out)"; }
}
unchanged() { diff -r $t/before /etc/apt >/dev/null && ! grep -q '^apt-get' $t/state/log; }

# The release matters only when something must change.
setup 'ID=ubuntu\nVERSION_ID="22.04"\nPRETTY_NAME="Ubuntu 22.04"' ''
run && check "a complete Ubuntu machine" '[ $rc = 0 ] && [ ! -s $t/out ]'
setup 'ID=debian\nVERSION_ID="13"\nPRETTY_NAME="Debian 13"' tinyproxy
run && check "Debian 13 with a package missing" '[ $rc = 1 ] && grep -q "Debian 12 only" $t/out && unchanged'

# A running nginx is the owner's; tinyproxy, new, is kept from starting and disabled.
setup "$debian12" 'nginx-light tinyproxy' sources.list.d/debian.sources "${decoys%Enabled*}"
policy=$(cat /usr/sbin/policy-rc.d 2>&1 || true)
run && check "new packages beside a running nginx" '[ $rc = 0 ] && grep -qx "policy-rc.d answered 101" $t/state/log &&
  grep -qx "systemctl disable --quiet tinyproxy" $t/state/log && ! grep -E "^(systemctl|service).*nginx" $t/state/log &&
  [ "$(cat /usr/sbin/policy-rc.d 2>&1 || true)" = "$policy" ]'

# apt failing: /etc/apt and the architectures as they were; the failing source is named.
for fail in update install; do
  setup "$debian12" wine32:i386 sources.list "deb http://ftp.de.debian.org/debian/ bookworm main\n"
  : >$t/state/arch && touch $t/state/fail-$fail
  run ZUNO_I386=emulate && check "a failing $fail" '[ $rc = 1 ] && diff -r $t/before /etc/apt && [ ! -s $t/state/arch ] &&
    grep -q "apt-get $fail.*failed" $t/out && { [ $fail = install ] || grep -q "failing: http://ftp.de.debian.org" $t/out; }'
done

# The mirror: an enabled source of Debian's archive, known by keyring or address; else nothing.
while IFS='|' read -r file content want; do
  setup "$debian12" '' sources.list.d/a.sources "$decoys" "$file" "$content"
  run ZUNO_I386=emulate
  if [ -z "$want" ]; then
    check "only decoys" '[ $rc = 1 ] && grep -q "no enabled apt source of the Debian archive" $t/out && unchanged'
    continue
  fi
  check "mirror $want" '[ $rc = 0 ] && grep -qx "URIs: $want" /etc/apt/sources.list.d/zuno-backports.sources'
  changed=$(cd /etc/apt/preferences.d && for f in *; do cmp -s $f $t/before/preferences.d/$f || echo $f; done)
  check "preferences" '[ "$changed" = zuno-backports ] && [ "$(grep -h Package: /etc/apt/preferences.d/$changed)" = "Package: qemu-user" ]'
done <<ROWS
sources.list.d/z.list|# deb http://deb.debian.org/debian bookworm main\ndeb https://thirdparty.example/debian bookworm main\n|
sources.list.d/z.list|deb [arch=amd64 signed-by=$keyring] http://mirror.example.org/debian bookworm main contrib\n|http://mirror.example.org/debian
sources.list.d/z.sources|Types: deb\nURIs: http://ftp.de.debian.org/debian/\nSuites: bookworm-updates bookworm\nComponents: main\n|http://ftp.de.debian.org/debian/
ROWS

# A folder mounted noexec is not taken for "no 32-bit programs"; with none left, the script says so.
setup "$debian12" ''
for d in "$src/build" /tmp; do [ ! -d "$d" ] || mount -t tmpfs -o noexec tmpfs "$d"; done
run && check "build tree and /tmp noexec" '[ $rc = 0 ] && [ ! -s $t/out ] && unchanged'
for d in /var/tmp /dev/shm; do mount -t tmpfs -o noexec tmpfs $d; done
run && check "every folder noexec" '[ $rc = 1 ] && grep -q "no folder lets programs run" $t/out && unchanged'
exit $failed
