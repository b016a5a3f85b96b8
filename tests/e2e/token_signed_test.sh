#!/usr/bin/env bash
# A package signed on a token (SoftHSM2, its own configuration and token directory here)
# by the host's varno-pack is applied by the updater built with that key, run quietly under
# Wine; the same package signed on the token by a key of another label is refused. The
# vendor's key of the key-bound updater is imported into the token, as a vendor moving its
# key into an HSM would.
. "$(dirname "$0")/e2e.sh"
signed_exe=$1 vendor_keys=$2 exe=$3
samples=$(dirname "$exe")/samples
exit_code=$6 pack_tool=$7
module=
for candidate in /usr/lib/softhsm/libsofthsm2.so /usr/lib/*/softhsm/libsofthsm2.so; do
  [ -f "$candidate" ] && module=$candidate && break
done
if [ -z "$module" ] || [ ! -x "$pack_tool" ]; then
  echo "no SoftHSM2 or no host varno-pack at $pack_tool: skipped"
  exit 77
fi
e2e_begin "$4" "$5"

mkdir -p "$VARNO_WINE_TMP/tokens"
printf 'directories.tokendir = %s/tokens\nobjectstore.backend = file\nlog.level = ERROR\n' "$VARNO_WINE_TMP" \
  >"$VARNO_WINE_TMP/softhsm2.conf"
export SOFTHSM2_CONF=$VARNO_WINE_TMP/softhsm2.conf VARNO_PIN=123456
softhsm2-util --init-token --free --label varno --pin 123456 --so-pin 654321 >/dev/null
softhsm2-util --import "$vendor_keys/vendor.pem" --token varno --label vendor --id 01 --pin 123456 >/dev/null
"$pack_tool" keygen "$VARNO_WINE_TMP/autre.pem" --pkcs11-module "$module" --key-label autre --pin-env VARNO_PIN >/dev/null

install='C:\Produits\Varnolith'
unix_install=$(varno_unix_path "$install")
package=$(varno_unix_path 'C:\Paquet')
mkdir -p "$(varno_unix_path 'C:\Journaux')"
# package LABEL: the package signed on the token by the key of that label.
package() {
  rm -rf "$package"
  e2e_package "$package" "$signed_exe" 2816090
  printf 'signé sur le jeton' >"$VARNO_WINE_TMP/member"
  # With the product's code: a key-bound updater runs as administrator only what the signed
  # package brings, or installed files only administrators can have written (never so under
  # Wine, which shows every file as its one user's).
  e2e_archive "$package/sor_ti1.slp" Jeton.txt "$VARNO_WINE_TMP/member" \
    Varxxlith.ocx "$samples/Varxxlith.ocx" VarnoUpDate.dll "$samples/VarnoUpDate.dll"
  "$pack_tool" sign "$package" --pkcs11-module "$module" --key-label "$1" --pin-env VARNO_PIN >/dev/null
}
run() {
  CODE=$(cd "$package" && wine "$exit_code" Varnolith_MAJ_Solo.exe /quiet '/log=C:\Journaux\jeton.log' 2>/dev/null |
    tr -d '\r')
  wineserver -w
}

echo "== signed on the token with the updater's key: applied"
e2e_install "$samples" "$install" 2816080 app-paths
package vendor
e2e_check "the host's verify accepts it" "$pack_tool" verify "$package" --public-key "$vendor_keys/vendor.pub.pem"
run
e2e_check "the run succeeds (got $CODE)" test "$CODE" = 0
e2e_check "the member was unpacked" test "$(cat "$unix_install/Jeton.txt" 2>/dev/null)" = 'signé sur le jeton'
e2e_check "the version is recorded" test "$(e2e_reg_value 'HKLM\Software\Tolmerik\Varnolith' Version)" = 2816090

echo "== signed on the token with another key: refused"
rm -rf "$unix_install"
e2e_install "$samples" "$install" 2816080 app-paths
package autre
e2e_check "the host's verify accepts it with that key's public half" \
  "$pack_tool" verify "$package" --public-key "$VARNO_WINE_TMP/autre.pub.pem"
run
e2e_check "the run is refused (got $CODE)" test "$CODE" != 0
e2e_check "nothing was unpacked" test ! -e "$unix_install/Jeton.txt"

e2e_finish
