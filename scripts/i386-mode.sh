#!/usr/bin/env bash
# Tells how this machine runs 32-bit x86 Linux programs (Wine's 32-bit side is one):
#   i386-mode.sh     prints "native", or "emulated (qemu-i386 X.Y.Z)", and exits 0;
#                    prints "none" and exits 1 when they do not run at all;
#                    prints "unknown" and exits 2 when no folder at hand lets programs run.
# The answer comes from running a tiny 32-bit program, not from what uname says.
set -euo pipefail

# The probe needs a folder that lets programs run (/tmp is often mounted noexec): a copy of a
# native program tells such a folder from a machine that does not run 32-bit programs.
build=$(cd "$(dirname "$0")/.." && pwd)/build
places=("$build" ${TMPDIR:+"$TMPDIR"} /tmp /var/tmp /dev/shm)
dir=
trap 'rm -rf "$dir"' EXIT
for place in "${places[@]}"; do
  [ -d "$place" ] || continue
  dir=$(mktemp -d "$place/zuno-i386-probe.XXXXXX" 2>/dev/null) || continue
  cp "$(type -P true)" "$dir/native" 2>/dev/null && "$dir/native" 2>/dev/null && break
  rm -rf "$dir"
  dir=
done
if [ -z "$dir" ]; then
  echo "i386-mode: no folder lets programs run (tried ${places[*]})" >&2
  echo unknown
  exit 2
fi
probe=$dir/probe

# A 96-byte static i386 ELF executable: one PT_LOAD segment at 0x08048000 whose code is
# exit(42) through int 0x80. 42 tells a program that really ran from a loader's own failure.
hdr='\177ELF\001\001\001\000\000\000\000\000\000\000\000\000'
hdr+='\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000'
hdr+='\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000'
ph='\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010'
ph+='\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000'
code='\270\001\000\000\000\273\052\000\000\000\315\200'
printf "$hdr$ph$code" >"$probe"
chmod 700 "$probe"

status=0
"$probe" 2>/dev/null || status=$?
if [ "$status" -ne 42 ]; then
  echo none
  exit 1
fi

# binfmt_misc handlers come before the kernel's own ELF loader: an enabled i386 entry means
# the program just ran under that emulator.
for entry in /proc/sys/fs/binfmt_misc/*; do
  [ -f "$entry" ] || continue
  case $(basename "$entry") in register | status) continue ;; esac
  grep -qx enabled "$entry" || continue
  # The i386 ELF magic: class 32-bit, little-endian, machine 3.
  grep -q '^magic 7f454c4601010100000000000000000002000300' "$entry" || continue
  interp=$(sed -n 's/^interpreter //p' "$entry")
  version=$("$interp" --version 2>/dev/null | sed -n '1s/.*version \([0-9][0-9.]*\).*/\1/p')
  echo "emulated (qemu-i386 ${version:-of unknown version})"
  exit 0
done
echo native
