#!/usr/bin/env bash
# Signs a Windows executable with Authenticode (SHA-256) through osslsigncode.
# Usage: sign.sh (--pkcs12 FILE | --cert FILE --key FILE) [--password-file FILE]
#                [--timestamp URL] [--test-standin] IN OUT
# The key's password, if it has one, comes from --password-file or from the environment variable
# TARNWICK_SIGN_PASSWORD, never from the command line (where other users could read it). Time
# stamping is off unless --timestamp names an RFC 3161 server. IN is left as it is: the unsigned
# bytes stay those that a rebuild reproduces.
#
# An exe that carries the stand-in package (it holds the mark of standin/StandinMark.h) is refused:
# the stand-in installer obeys environment variables and must never ship signed. --test-standin
# signs it all the same, for tests that sign a test build with a throw-away certificate.
set -euo pipefail

usage() { sed -n '2,3s/^# //p' "$0" >&2; exit 2; }
pkcs12= cert= key= password_file= timestamp= test_standin=0
while [ $# -gt 2 ]; do
  case $1 in
    --test-standin) test_standin=1; shift; continue ;;
    --pkcs12) pkcs12=$2 ;;
    --cert) cert=$2 ;;
    --key) key=$2 ;;
    --password-file) password_file=$2 ;;
    --timestamp) timestamp=$2 ;;
    *) usage ;;
  esac
  shift 2
done
[ $# -eq 2 ] || usage
in=$1 out=$2
if [ -n "$pkcs12" ]; then
  [ -z "$cert$key" ] || { echo "sign: give --pkcs12 or --cert and --key, not both" >&2; exit 2; }
  credentials=(-pkcs12 "$pkcs12")
elif [ -n "$cert" ] && [ -n "$key" ]; then
  credentials=(-certs "$cert" -key "$key")
else
  usage
fi
for file in "$in" "$pkcs12" "$cert" "$key" "$password_file"; do
  [ -z "$file" ] || [ -r "$file" ] || { echo "sign: cannot read $file" >&2; exit 1; }
done

mark_header=$(dirname "$0")/../standin/StandinMark.h
mark=$(sed -n 's/^#define TARNWICK_STANDIN_MARK "\(.*\)"$/\1/p' "$mark_header" 2>/dev/null || true)
[ -n "$mark" ] || { echo "sign: cannot read the stand-in package's mark from $mark_header" >&2; exit 1; }
if grep -qaF -- "$mark" "$in"; then
  if [ "$test_standin" != 1 ]; then
    echo "sign: refused: $in carries the stand-in package (a test build; build with TARNWICK_PACKAGE_DIR)" >&2
    exit 1
  fi
  echo "sign: $in carries the stand-in package: signing it for a test (--test-standin)" >&2
fi

password=()
if [ -n "$password_file" ]; then
  password=(-readpass "$password_file")
elif [ -n "${TARNWICK_SIGN_PASSWORD+set}" ]; then
  # osslsigncode reads a password from a file only (a pipe will not do): one only we can read.
  private=$(mktemp -d)
  trap 'rm -rf "$private"' EXIT
  (umask 077 && printf '%s' "$TARNWICK_SIGN_PASSWORD" >"$private/password")
  password=(-readpass "$private/password")
fi
stamp=()
[ -z "$timestamp" ] || stamp=(-ts "$timestamp")

mkdir -p "$(dirname "$out")"
rm -f "$out"
osslsigncode sign "${credentials[@]}" "${password[@]}" -h sha256 -n "Velomar HD Firmware Update" \
  "${stamp[@]}" -in "$in" -out "$out" >/dev/null ||
  { rm -f "$out"; echo "sign: osslsigncode could not sign $in" >&2; exit 1; }
echo "Signed $out"
