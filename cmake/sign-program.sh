#!/bin/sh
# sign-program.sh [--team <team>] [--anchor <certificate>] <program> <key folder>
#
# Appends to <program> a detached CMS signature (DER) over its bytes, made with the key
# folder's certificate.pem and key.pem, then a trailer: the signature's length as eight
# hex digits and a marker line. With --team the certificate's subject OU must be <team>;
# with --anchor it must chain to that anchor.
set -eu
team='' anchor=''
while [ $# -gt 2 ]; do
  case $1 in
    --team) team=$2 ;;
    --anchor) anchor=$2 ;;
    *) echo "sign-program: unknown option $1" >&2; exit 1 ;;
  esac
  shift 2
done
program=$1 keys=$2
marker='~Corvane signature appended~'

if [ -n "$team" ] &&
   ! openssl x509 -in "$keys/certificate.pem" -noout -subject -nameopt sep_multiline |
     grep -qx "    OU=$team"; then
  echo "sign-program: $keys/certificate.pem is not of team $team" >&2
  exit 1
fi
if [ -n "$anchor" ]; then
  openssl verify -no_check_time -CAfile "$anchor" "$keys/certificate.pem" >/dev/null
fi
if [ "$(tail -c 29 "$program")" = "$marker" ]; then
  echo "sign-program: $program is already signed" >&2
  exit 1
fi
signature=$program.signature
openssl cms -sign -binary -noattr -nosmimecap -md sha256 -in "$program" \
  -signer "$keys/certificate.pem" -inkey "$keys/key.pem" -outform DER -out "$signature"
cat "$signature" >>"$program"
printf '%08x%s\n' "$(wc -c <"$signature")" "$marker" >>"$program"
rm "$signature"
