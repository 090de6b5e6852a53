#!/usr/bin/env bash
# Signing the shipped exe: with a throw-away self-signed certificate, as PEM files and as a
# password-protected PKCS#12 file, the signature verifies, the signed exe still passes the static
# checks, the unsigned exe is untouched, and a wrong password or a changed byte is caught. A build
# that carries the stand-in package is refused, by sign.sh and by the CMake signing options, unless
# the test says explicitly (--test-standin) that it signs a test build; an exe without the
# stand-in's mark signs without that.
# Usage: signing.sh SOURCE-ROOT TARNWICK.EXE PACKAGE-DIR VERSION WORK-DIR
# Leaves the signed exe in WORK-DIR/signed/Tarnwick.exe for the test that runs it.
set -uo pipefail
[ $# -eq 5 ] || { echo "usage: $0 SOURCE-ROOT TARNWICK.EXE PACKAGE-DIR VERSION WORK-DIR" >&2; exit 2; }
root=$1 exe=$2 package=$3 version=$4 work=$5
sign=$root/scripts/sign.sh
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1

failed=0
check() { # WHAT COMMAND...
  local what=$1
  shift
  if "$@" >check.log 2>&1; then echo "  ok    $what"; else echo "  FAIL  $what"; sed 's/^/        /' check.log; failed=1; fi
}
fails() { # WHAT COMMAND...: the command must fail
  local what=$1
  shift
  if "$@" >check.log 2>&1; then echo "  FAIL  $what (it succeeded)"; failed=1; else echo "  ok    $what"; fi
}

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tarnwick test signing/O=Velomar" \
  -addext extendedKeyUsage=codeSigning -keyout key.pem -out cert.pem >openssl.log 2>&1 ||
  { cat openssl.log; exit 1; }
export TARNWICK_SIGN_PASSWORD='test pass; not secret'
openssl pkcs12 -export -inkey key.pem -in cert.pem -out signer.p12 -passout env:TARNWICK_SIGN_PASSWORD \
  >>openssl.log 2>&1 || { cat openssl.log; exit 1; }
printf '%s' "$TARNWICK_SIGN_PASSWORD" >password.txt
before=$(sha256sum <"$exe")

verify() { osslsigncode verify -CAfile cert.pem -in "$1"; }

mark=$(sed -n 's/^#define TARNWICK_STANDIN_MARK "\(.*\)"$/\1/p' "$root/standin/StandinMark.h")
check "the stand-in package's mark is defined" test -n "$mark"
# The same exe with the mark overwritten stands in for a build with the vendor's package.
python3 - "$exe" unmarked.exe "$mark" <<'PY'
import sys
data, mark = open(sys.argv[1], "rb").read(), sys.argv[3].encode()
open(sys.argv[2], "wb").write(data.replace(mark, b"x" * len(mark)))
PY
check "an exe without the stand-in's mark signs without the override" \
  bash "$sign" --pkcs12 signer.p12 unmarked.exe unmarked/Tarnwick.exe
test_standin=()
if grep -qaF -- "$mark" "$exe"; then
  # This build carries the stand-ins: every signing below says that it signs a test build.
  test_standin=(--test-standin)
  fails "the stand-in build is refused without --test-standin" \
    bash "$sign" --pkcs12 signer.p12 "$exe" refused/Tarnwick.exe
  cp check.log refused.log
  check "and the refusal says why" grep -q "carries the stand-in package" refused.log
  check "and leaves no output file" test ! -e refused/Tarnwick.exe
  fails "the CMake signing options refuse the stand-in package" \
    cmake -S "$root" -B cmake-refusal -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686.cmake" \
    -DTARNWICK_TESTS=OFF -DTARNWICK_SIGN_PKCS12="$work/signer.p12"
  cp check.log refused.log
  check "and say why" grep -q "Signing refused: this build carries the stand-in package" refused.log
else
  echo "  note  $exe carries the vendor's package: no stand-in refusal to show"
fi
check "signs with PEM certificate and key" bash "$sign" "${test_standin[@]}" --cert cert.pem --key key.pem "$exe" pem/Tarnwick.exe
check "the PEM signature verifies" verify pem/Tarnwick.exe
check "signs with PKCS#12, password from the environment" \
  bash "$sign" "${test_standin[@]}" --pkcs12 signer.p12 "$exe" signed/Tarnwick.exe
check "the PKCS#12 signature verifies" verify signed/Tarnwick.exe
check "the signature is SHA-256" grep -q 'Message digest algorithm *: SHA256' <(verify signed/Tarnwick.exe)
check "signs with PKCS#12, password from a file" \
  env -u TARNWICK_SIGN_PASSWORD bash "$sign" "${test_standin[@]}" --pkcs12 signer.p12 --password-file password.txt \
  "$exe" file/Tarnwick.exe
TARNWICK_SIGN_PASSWORD=wrong fails "a wrong password signs nothing" \
  bash "$sign" "${test_standin[@]}" --pkcs12 signer.p12 "$exe" wrong/Tarnwick.exe
check "and leaves no output file" test ! -e wrong/Tarnwick.exe
check "the signed exe passes the static checks" \
  python3 "$root/tests/static/check_pe.py" --package "$package" --version "$version" signed/Tarnwick.exe
check "the unsigned exe is untouched" test "$before" = "$(sha256sum <"$exe")"
osslsigncode remove-signature -in signed/Tarnwick.exe -out unsigned.exe >/dev/null 2>&1
check "removing the signature gives the unsigned bytes back" cmp unsigned.exe "$exe"
cp signed/Tarnwick.exe tampered.exe
printf 'X' | dd of=tampered.exe bs=1 seek=$(($(stat -c %s "$exe") / 2)) conv=notrunc status=none
fails "a changed byte fails verification" verify tampered.exe
echo "signed: $work/signed/Tarnwick.exe $(sha256sum <signed/Tarnwick.exe | cut -c1-64)"
exit $failed
