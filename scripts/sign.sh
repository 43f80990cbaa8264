#!/usr/bin/env bash
# Authenticode signature of a Windows executable, with Debian's osslsigncode.
#
#   scripts/sign.sh FILE            signs FILE in place with the certificate in
#                                   $TARN_SIGN_PKCS12 (password in the file named by
#                                   $TARN_SIGN_PASSWORD_FILE, if any); without a
#                                   certificate it says so and leaves FILE alone
#   scripts/sign.sh --test FILE     signs a copy of FILE with a throw-away test
#                                   certificate and verifies the signature
set -euo pipefail

sign() {  # in out pkcs12 [password-file]
  local pass=()
  [ -n "${4:-}" ] && pass=(-readpass "$4")
  osslsigncode sign -pkcs12 "$3" "${pass[@]}" -h sha256 \
    -n "Tarnwick Setup" -i "https://tarnwick.dev/" -in "$1" -out "$2" >/dev/null
}

if [ "${1:-}" = "--test" ]; then
  exe=$(realpath "$2")
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  cd "$work"
  quiet() { "$@" >/dev/null 2>&1; }
  quiet openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=Tarnwick Test Signing CA" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign \
    -keyout ca.key -out ca.pem
  quiet openssl req -new -newkey rsa:2048 -nodes -subj "/CN=Tarnwick Test Signer" \
    -keyout signer.key -out signer.csr
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >ext
  quiet openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -sha256 -extfile ext -out signer.pem
  quiet openssl pkcs12 -export -passout pass: -inkey signer.key -in signer.pem -certfile ca.pem \
    -out signer.p12
  sign "$exe" signed.exe signer.p12
  osslsigncode verify -CAfile ca.pem -in signed.exe
  exit
fi

exe=$1
if [ -z "${TARN_SIGN_PKCS12:-}" ]; then
  echo "sign: no certificate configured (TARN_SIGN_PKCS12); $(basename "$exe") left unsigned"
  exit 0
fi
sign "$exe" "$exe.signed" "$TARN_SIGN_PKCS12" "${TARN_SIGN_PASSWORD_FILE:-}"
mv "$exe.signed" "$exe"
echo "sign: $(basename "$exe") signed with $TARN_SIGN_PKCS12"
