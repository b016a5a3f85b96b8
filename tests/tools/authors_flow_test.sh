#!/usr/bin/env bash
# The package authors' flow with one build of varno-pack: init, build, keygen with a
# passphrase, build --sign, verify, build --since, sign, check, msi.
#   authors_flow_test.sh HOST_TOOL                           the Linux tool
#   authors_flow_test.sh HOST_TOOL WINDOWS_TOOL WINE_TEMPLATE varno-pack.exe under Wine, and
# then the same release built by the Linux tool with the same key: every package file, the
# signature included, byte for byte the same, and the MSIs the same tables.
set -uo pipefail
host_tool=$1
windows_tool=${2:-}
if [ ! -x "$host_tool" ]; then
  echo "no host varno-pack at $host_tool (scripts/build builds it first): skipped"
  exit 77
fi
work=$(mktemp -d)
cleanup() { rm -rf "$work"; }
if [ -n "$windows_tool" ]; then
  . "$(dirname "$0")/../support/wine.sh"
  varno_wine_begin "$3"
  cleanup() { wineserver -k 2>/dev/null; rm -rf "$work" "$VARNO_WINE_TMP"; }
fi
trap cleanup EXIT
cd "$work"
failures=0
fail() {
  echo "FAIL: $*"
  echo "  stdout: $(head -c 2000 out | tr -d '\r')"
  echo "  stderr: $(head -c 2000 err | tr -d '\r')"
  failures=$((failures + 1))
}
# tool ARGS...: the tool under test, stdout in ./out, stderr in ./err, its status in STATUS.
tool() {
  if [ -n "$windows_tool" ]; then wine "$windows_tool" "$@" >out 2>err; else "$host_tool" "$@" >out 2>err; fi
  STATUS=$?
}
run() {
  local expected=$1
  shift
  tool "$@"
  [ "$STATUS" -eq "$expected" ] || fail "varno-pack $* exited $STATUS, not $expected"
}
expect_in() { tr -d '\r' <"$1" | grep -qF -- "$2" || fail "$1 should hold '$2'"; }

export VARNO_KEY_PASS='s3cret été'
run 0 init proj
mkdir -p proj/staging/Donnees
printf 'exe' >proj/staging/Varnolith.exe
printf 'données' >"proj/staging/Donnees/Été.txt"
for i in $(seq 400); do echo "Ligne $i"; done >proj/staging/Donnees/notes.txt
printf 'updater' >proj/Varnolith_MAJ_Solo.exe
run 0 keygen keys/vendor.pem --passphrase-env VARNO_KEY_PASS
tr -d '\r' <keys/vendor.pem | grep -q 'BEGIN ENCRYPTED PRIVATE KEY' || fail "keygen wrote no encrypted key"
run 2 build proj/varno-package.toml -o refused --sign keys/vendor.pem --passphrase-env VARNO_UNSET
expect_in err "VARNO_UNSET is not set"
run 0 build proj/varno-package.toml -o v1 --sign keys/vendor.pem --passphrase-env VARNO_KEY_PASS
run 0 verify v1 --public-key keys/vendor.pub.pem
expect_in out "verified: v1"
VARNO_KEY_PASS=wrong run 2 sign v1 --key keys/vendor.pem --passphrase-env VARNO_KEY_PASS
expect_in err "the passphrase does not open this key"

cp -r proj/staging prev
echo "Ligne ajoutée" >>proj/staging/Donnees/notes.txt
rm "proj/staging/Donnees/Été.txt"
run 0 build proj/varno-package.toml -o v2 --since prev
run 0 sign v2 --key keys/vendor.pem --passphrase-env VARNO_KEY_PASS
run 0 verify v2 --public-key keys/vendor.pub.pem
printf 'x' >>v2/MjaIni.ini
run 2 verify v2 --public-key keys/vendor.pub.pem
expect_in err "file-size-differs"
run 0 sign v2 --key keys/vendor.pem --passphrase-env VARNO_KEY_PASS
run 0 check v2
expect_in out "v2: no findings"
run 0 msi v2 -o v2.msi
expect_in out "ProductCode {"
msiinfo export v2.msi CustomAction 2>/dev/null | grep -q 'PACKAGEDIR' || fail "the MSI has no updater action"

if [ -n "$windows_tool" ]; then
  # The same release through the Linux tool, signed with the key the Windows tool made.
  "$host_tool" build proj/varno-package.toml -o host-v2 --since prev -q >/dev/null 2>&1 ||
    fail "the Linux tool did not build the release"
  "$host_tool" sign host-v2 --key keys/vendor.pem --passphrase-env VARNO_KEY_PASS >/dev/null 2>&1 ||
    fail "the Linux tool did not sign with varno-pack.exe's key"
  printf 'x' >>host-v2/MjaIni.ini
  "$host_tool" sign host-v2 --key keys/vendor.pem --passphrase-env VARNO_KEY_PASS >/dev/null 2>&1
  diff -r v2 host-v2 >/dev/null || fail "the two builds' packages differ: $(cd v2 && for f in $(find . -type f); do cmp -s "$f" "../host-v2/$f" || echo "$f"; done)"
  "$host_tool" msi host-v2 -o host-v2.msi >/dev/null 2>&1 || fail "the Linux tool did not make the MSI"
  tables() { for t in $(msiinfo tables "$1" | sort); do echo "== $t"; msiinfo export "$1" "$t"; done; }
  diff -a <(tables v2.msi) <(tables host-v2.msi) || fail "the two builds' MSIs differ in their tables"
fi

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "authors' flow: all passed"
