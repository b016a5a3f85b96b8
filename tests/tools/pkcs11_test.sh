#!/usr/bin/env bash
# A signing key kept on a token, through SoftHSM2 with its own configuration and token
# directory: keygen makes the pair on the token and writes only the public key; build --sign
# and sign use it, and verify accepts the package; a wrong PIN, an unknown label, a label
# taken already and a module that is none are refused, each with its reason.
# Usage: pkcs11_test.sh VARNO_PACK
set -uo pipefail
tool=$1
module=
for candidate in /usr/lib/softhsm/libsofthsm2.so /usr/lib/*/softhsm/libsofthsm2.so; do
  [ -f "$candidate" ] && module=$candidate && break
done
if [ -z "$module" ] || ! command -v softhsm2-util >/dev/null; then
  echo "no SoftHSM2 (Debian's softhsm2): skipped"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir tokens
printf 'directories.tokendir = %s/tokens\nobjectstore.backend = file\nlog.level = ERROR\n' "$work" >softhsm2.conf
export SOFTHSM2_CONF=$work/softhsm2.conf
softhsm2-util --init-token --free --label varno --pin 123456 --so-pin 654321 >/dev/null
export VARNO_PIN=123456
failures=0
fail() {
  echo "FAIL: $*"
  echo "  stdout: $(head -c 2000 out)"
  echo "  stderr: $(head -c 2000 err)"
  failures=$((failures + 1))
}
run() {
  local expected=$1
  shift
  "$tool" "$@" >out 2>err
  local status=$?
  [ "$status" -eq "$expected" ] || fail "varno-pack $* exited $status, not $expected"
}
expect_in() { grep -qF -- "$2" "$1" || fail "$1 should hold '$2'"; }
token=(--pkcs11-module "$module" --key-label vendor --pin-env VARNO_PIN)

run 0 keygen keys/vendor.pem "${token[@]}"
expect_in out 'private key: on the token, labelled "vendor"'
[ -e keys/vendor.pub.pem ] && [ ! -e keys/vendor.pem ] || fail "keygen on a token wrote other than the public key"
run 2 keygen keys/again.pem "${token[@]}"
expect_in err 'holds a key labelled "vendor" already'

run 0 init proj
mkdir -p proj/staging && printf 'exe' >proj/staging/Varnolith.exe && printf 'updater' >proj/Varnolith_MAJ_Solo.exe
run 0 build proj/varno-package.toml -o signed "${token[@]}"
run 0 verify signed --public-key keys/vendor.pub.pem
cp signed/MjaIni.sig first.sig
run 0 sign signed "${token[@]}"
cmp -s first.sig signed/MjaIni.sig || fail "the token's signature of the same package changed"

VARNO_PIN=000000 run 2 sign signed "${token[@]}"
expect_in err 'the PIN is not this token'
run 2 sign signed --pkcs11-module "$module" --key-label autre --pin-env VARNO_PIN
expect_in err 'no private RSA key labelled "autre" on the token(s) "varno"'
run 2 sign signed --pkcs11-module "$work/softhsm2.conf" --key-label vendor --pin-env VARNO_PIN
expect_in err 'the PKCS#11 module cannot be loaded'
setsid "$tool" sign signed --pkcs11-module "$module" --key-label vendor </dev/null >out 2>err
expect_in err "no terminal to ask the token's PIN on"
run 2 sign signed --pkcs11-module "$module"
expect_in err "--pkcs11-module LIB with --key-label NAME"
cmp -s first.sig signed/MjaIni.sig || fail "a refused signing changed MjaIni.sig"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "pkcs11: all passed"
