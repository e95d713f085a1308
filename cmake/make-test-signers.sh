#!/usr/bin/env bash
# Makes the build's own code-signing keys, once per build tree (never committed):
#   ca.{key,crt}        a test CA
#   signer.{key,crt}    a code-signing key of that CA: the one a build without pins trusts
#   signer2.{key,crt}   a second code-signing key of the same CA (not trusted by default)
#   otherca.{key,crt}, other.{key,crt}   another CA and a code-signing key of it
# and NAME.pin for each key: the SHA-256 of its certificate's SubjectPublicKeyInfo (DER), in hex.
#   make-test-signers.sh DIR
set -euo pipefail
dir=$1
[ -f "$dir/.complete" ] && exit 0
rm -rf "$dir"
mkdir -p "$dir"
cd "$dir"

cat >ext.cnf <<'EOF'
[signer]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF

ca() {  # NAME SUBJECT (the default request configuration makes it a CA)
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -subj "$2" -keyout "$1.key" -out "$1.crt" 2>/dev/null
}
signer() {  # NAME SUBJECT CA
  openssl req -newkey rsa:2048 -nodes -sha256 -subj "$2" -keyout "$1.key" -out "$1.csr" 2>/dev/null
  openssl x509 -req -in "$1.csr" -CA "$3.crt" -CAkey "$3.key" -CAcreateserial -sha256 -days 3650 \
    -extfile ext.cnf -extensions signer -out "$1.crt" 2>/dev/null
  rm -f "$1.csr"
}
pin() {
  openssl x509 -in "$1.crt" -pubkey -noout | openssl pkey -pubin -outform DER | sha256sum | cut -d' ' -f1 >"$1.pin"
}

ca ca "/CN=Zuno Test Root"
signer signer "/CN=Zuno Test Code Signing" ca
signer signer2 "/CN=Zuno Test Code Signing 2" ca
ca otherca "/CN=Other Test Root"
signer other "/CN=Other Code Signing" otherca
for name in signer signer2 other; do pin "$name"; done
touch .complete
