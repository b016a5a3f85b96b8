#!/usr/bin/env bash
# varno-pack.exe signing through a PKCS#11 module under Wine (the test module of
# tests/win32, one key read from a file): the token's MjaIni.sig is byte for byte the one
# the Linux tool writes with the key file, and a wrong PIN or label is refused.
# Usage: pkcs11_windows_test.sh HOST_TOOL WINDOWS_TOOL MODULE_DLL WINE_TEMPLATE
set -uo pipefail
host_tool=$1 windows_tool=$2 module=$3
if [ ! -x "$host_tool" ]; then
  echo "no host varno-pack at $host_tool: skipped"
  exit 77
fi
. "$(dirname "$0")/../support/wine.sh"
varno_wine_begin "$4"
work=$VARNO_WINE_TMP/work
trap 'wineserver -k 2>/dev/null; rm -rf "$VARNO_WINE_TMP"' EXIT
mkdir -p "$work" && cd "$work"
failures=0
fail() {
  echo "FAIL: $*"
  echo "  stdout: $(tr -d '\r' <out | head -c 2000)"
  echo "  stderr: $(tr -d '\r' <err | head -c 2000)"
  failures=$((failures + 1))
}
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:3072 -out vendor.pem 2>/dev/null
openssl rsa -in vendor.pem -traditional -out token-key.pem 2>/dev/null
openssl pkey -in vendor.pem -pubout -out vendor.pub.pem 2>/dev/null
export VARNO_TEST_TOKEN_KEY=$(winepath -w "$work/token-key.pem" 2>/dev/null) VARNO_TEST_TOKEN_PIN=4321 VARNO_PIN=4321
mkdir -p pkg && printf 'Mise a jour\r\n2816090\r\n' >pkg/MjaIni.ini
cp -r pkg host-pkg
token() { wine "$windows_tool" sign pkg --pkcs11-module "$(winepath -w "$module")" "$@" >out 2>err; }

token --key-label vendor --pin-env VARNO_PIN || fail "varno-pack.exe did not sign through the module"
"$host_tool" sign host-pkg --key vendor.pem >/dev/null 2>&1 || fail "the Linux tool did not sign"
cmp -s pkg/MjaIni.sig host-pkg/MjaIni.sig || fail "the token's signature is not the key file's"
"$host_tool" verify pkg --public-key vendor.pub.pem >/dev/null 2>&1 || fail "verify refuses the token's signature"
VARNO_PIN=1111 token --key-label vendor --pin-env VARNO_PIN && fail "a wrong PIN signed"
tr -d '\r' <err | grep -qF 'the PIN is not this token' || fail "a wrong PIN is not named"
token --key-label autre --pin-env VARNO_PIN && fail "an unknown label signed"
tr -d '\r' <err | grep -qF 'no private RSA key labelled "autre" on the token(s) "essai"' || fail "an unknown label is not named"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "pkcs11 under Wine: all passed"
