#!/usr/bin/env bash
# The build's check of the vendor's key (VARNO_PACKAGE_PUBLIC_KEY): an RSA public key of at
# least 2048 bits passes; a smaller one, another algorithm and a private key stop the
# configuration with a message that says why.
#   package_key_test.sh PACKAGE_KEY_CMAKE
set -uo pipefail
module=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

printf 'include("%s")\nvarno_check_package_key("${KEY}" bits)\nmessage("bits=${bits}")\n' "$module" >"$work/check.cmake"
# CMake wraps its messages: one line, single blanks.
check() {
  local out status
  out=$(cmake -DKEY="$1" -P "$work/check.cmake" 2>&1)
  status=$?
  tr -s " \n" "  " <<<"$out"
  return $status
}
key() {  # key NAME ALGORITHM-OPTIONS...: a key pair, its public half at NAME.pub.pem
  local name=$1
  shift
  openssl genpkey "$@" -out "$work/$name.pem" 2>/dev/null && openssl pkey -in "$work/$name.pem" -pubout -out "$work/$name.pub.pem"
}
key rsa2047 -algorithm RSA -pkeyopt rsa_keygen_bits:2047
key rsa2048 -algorithm RSA -pkeyopt rsa_keygen_bits:2048
key rsa512 -algorithm RSA -pkeyopt rsa_keygen_bits:512
key ec -algorithm EC -pkeyopt ec_paramgen_curve:P-256

out=$(check "$work/rsa2048.pub.pem") || fail "a 2048-bit key is refused: $out"
grep -q 'bits=2048' <<<"$out" || fail "a 2048-bit key is not measured as such: $out"
for bits in 512 2047; do
  out=$(check "$work/rsa$bits.pub.pem") && fail "a $bits-bit key passes: $out"
  grep -q "RSA key of $bits" <<<"$out" || fail "the refusal does not give the $bits bits: $out"
  grep -q 'at least 2048' <<<"$out" || fail "the refusal does not say what is required: $out"
done
out=$(check "$work/ec.pub.pem") && fail "an EC key passes: $out"
grep -q 'not an RSA public key' <<<"$out" || fail "an EC key is not named as such: $out"
out=$(check "$work/rsa2048.pem") && fail "a private key passes: $out"

[ "$failures" -eq 0 ] && echo "package key check: all cases passed"
exit $((failures > 0))
