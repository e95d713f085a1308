#!/usr/bin/env bash
# The release step on the installer: over its size limit it fails and leaves no exe (not even
# the one an earlier build made); within the unstripped size, it gives the exe stripped and
# signed by the key given; and this build's exe fits the shipped exe's own limit.
#   release_exe_test.sh MAKE_RELEASE_EXE EXE SIGNING_DIR WORK_DIR LIMIT
set -euo pipefail
make=$1 exe=$2 signing=$3 out=$4/ZunoOnlineSetup.exe limit=$5
fail() { echo "release_exe: $*" >&2; exit 1; }
mkdir -p "$4" && echo "an earlier build" >"$out"
! "$make" i686-w64-mingw32-strip "$exe" "$out" 65536 || fail "an exe over its limit was accepted"
[ ! -e "$out" ] || fail "a build over the limit left $out"
"$make" i686-w64-mingw32-strip "$exe" "$out" "$(stat -c %s "$exe")" "$signing/signer.key" "$signing/signer.crt"
verified=$(osslsigncode verify -CAfile "$signing/ca.crt" -in "$out") &&
  grep -q "Subject: /CN=Zuno Test Code Signing$" <<<"$verified" || fail "not signed by the test key"
"$make" i686-w64-mingw32-strip "$exe" "$out" "$limit" || fail "this build's exe is over the limit of $limit bytes"
