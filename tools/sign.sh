#!/usr/bin/env bash
# Signs a Windows program with Authenticode (osslsigncode, SHA-256).
#
#   tools/sign.sh [--cert FILE] [--key FILE] [--pass-file FILE] [--timestamp URL] IN OUT
#
# The certificate (PEM or DER, with its chain) and the private key come from
# the options or from TG_SIGN_CERT, TG_SIGN_KEY and TG_SIGN_PASS_FILE (a file
# holding the key's password); nothing secret belongs in the work tree. With
# a time-stamp server (--timestamp or TG_SIGN_TIMESTAMP_URL) the signature
# stays valid after the certificate expires. Exit status 3 when no
# certificate and key are given: OUT is then not written.
set -euo pipefail

cert=${TG_SIGN_CERT:-}
key=${TG_SIGN_KEY:-}
pass_file=${TG_SIGN_PASS_FILE:-}
timestamp=${TG_SIGN_TIMESTAMP_URL:-}
args=()
while [ $# -gt 0 ]; do
  case $1 in
    --cert) cert=$2; shift 2 ;;
    --key) key=$2; shift 2 ;;
    --pass-file) pass_file=$2; shift 2 ;;
    --timestamp) timestamp=$2; shift 2 ;;
    -*) echo "sign: unknown option $1" >&2; exit 2 ;;
    *) args+=("$1"); shift ;;
  esac
done
[ ${#args[@]} -eq 2 ] || { sed -n 4p "$0" | sed 's/^# *//' >&2; exit 2; }
in=${args[0]} out=${args[1]}

if [ -z "$cert" ] || [ -z "$key" ]; then
  echo "sign: no certificate and key given (--cert/--key or TG_SIGN_CERT/TG_SIGN_KEY): not signed" >&2
  exit 3
fi
for f in "$cert" "$key" ${pass_file:+"$pass_file"}; do
  [ -r "$f" ] || { echo "sign: cannot read $f" >&2; exit 1; }
done
command -v osslsigncode >/dev/null || { echo "sign: osslsigncode is not installed (tools/setup.sh)" >&2; exit 1; }

opts=(sign -h sha256 -certs "$cert" -key "$key"
      -n "Thistlegarden补丁程序" -i "https://space.example.com/orrinvale")
[ -n "$pass_file" ] && opts+=(-readpass "$pass_file")
[ -n "$timestamp" ] && opts+=(-ts "$timestamp")
rm -f "$out"
osslsigncode "${opts[@]}" -in "$in" -out "$out" >/dev/null
echo "sign: $(basename "$out") signed for $(openssl x509 -in "$cert" -noout -subject 2>/dev/null ||
  openssl x509 -inform DER -in "$cert" -noout -subject)"
