#!/usr/bin/env bash
# The installer as it ships: stripped, signed with the code-signing key when one is given, and
# no larger than LIMIT bytes as signed. OUTPUT appears only when all of that succeeded, so a
# failed build never leaves a file that the next build would take as done.
#   make-release-exe.sh STRIP INPUT OUTPUT LIMIT [KEY CERT]
set -euo pipefail
strip=$1 input=$2 output=$3 limit=$4 key=${5:-} cert=${6:-}
work=$output.part
trap 'rm -f "$work" "$work.signed"' EXIT
rm -f "$output"
mkdir -p "$(dirname "$output")"
"$strip" -o "$work" "$input"
if [ -n "$key" ]; then
  osslsigncode sign -certs "$cert" -key "$key" -h sha256 -in "$work" -out "$work.signed" >/dev/null
  mv "$work.signed" "$work"
fi
size=$(stat -c %s "$work")
if [ "$size" -gt "$limit" ]; then
  echo "make-release-exe: $(basename "$output") would be $size bytes, over its limit of $limit" >&2
  exit 1
fi
chmod 755 "$work" && mv "$work" "$output"
echo "make-release-exe: $output, $size bytes, $([ -n "$key" ] && echo "signed with $cert" || echo unsigned)"
