#!/usr/bin/env bash
# Binary deltas with the real programs: varno-pack (the Windows build) packs what changed since
# the previous release as deltas; the updater applies them to that release's installation; an
# installation whose file was changed by hand takes nothing (1620) unless the package also
# carries the whole file; a failure later in the run puts every delta-made file back; a run
# answered in its window applies them as a quiet one does. A library the release renamed
# (and changed) is made from the installed one under its old name.
. "$(dirname "$0")/e2e.sh"
exe=$1
samples=$(dirname "$exe")/samples
pack_tool=$4
exit_code=$5
e2e_begin "$2" "$3"

install='C:\Produits\Varnolith'
unix_install=$(varno_unix_path "$install")
versions=$(varno_unix_path 'C:\Versions')
package=$(varno_unix_path 'C:\Paquet')
key='HKLM\SOFTWARE\Tolmerik\Varnolith'

# Two releases of a library and a data file: the second changes a few bytes of each.
mkdir -p "$versions/v1/Bin" "$versions/v2/Bin"
cp "$samples/Admin.dll" "$versions/v1/Bin/moteur.dll"
head -c 3000000 /dev/urandom >"$versions/v1/donnees.bin"
cp -r "$versions/v1/." "$versions/v2/"
printf 'v2' | dd of="$versions/v2/Bin/moteur.dll" bs=1 seek=1000 conv=notrunc status=none
printf 'version deux' | dd of="$versions/v2/donnees.bin" bs=1 seek=1500000 conv=notrunc status=none
# A real program renamed with its version, and rebuilt a little changed.
cp "$samples/Varnolith.exe" "$versions/v1/Bin/outils-1.dll"
cp "$samples/Varnolith.exe" "$versions/v2/Bin/outils-2.dll"
printf 'v2' | dd of="$versions/v2/Bin/outils-2.dll" bs=1 seek=2000 conv=notrunc status=none
# A new file, which goes whole and compressed (an SG2 archive).
for i in $(seq 2000); do echo "Ligne $i des notes de la version deux"; done >"$versions/v2/Notes.txt"
cp "$exe" "$versions/"
cat >"$versions/varno-package.toml" <<'EOF'
[package]
title = "Mise a jour de Varnolith"
version = 2816090
label = "2.9"
min-file-version = 28
min-installed-version = 2816000

[files]
staging = "v2"
updater = "Varnolith_MAJ_Solo.exe"
EOF

build() {
  (cd "$versions" && WINEDEBUG=-all wine "$pack_tool" build 'C:\Versions\varno-package.toml' -o 'C:\Paquet' \
     --since 'C:\Versions\v1' --force -q "$@" >"$VARNO_WINE_TMP/build.txt" 2>&1) ||
    { cat "$VARNO_WINE_TMP/build.txt"; return 1; }
}
# The previous release installed: its files and its version.
install_v1() {
  e2e_install "$samples" "$install" 2816080 app-paths
  cp -r "$versions/v1/." "$unix_install/"
}
run() { CODE=$(cd "$package" && wine "$exit_code" Varnolith_MAJ_Solo.exe /quiet 2>/dev/null | tr -d '\r'); }
installation() { (cd "$unix_install" && find . -type f ! -name VarnoMaJLog.txt -exec md5sum {} + | sort); wine reg query "$key" /reg:32 2>/dev/null | tr -d '\r'; }
log_has() { iconv -f CP1252 -t UTF-8 "$unix_install/VarnoMaJLog.txt" | grep -qF "$1"; }
same_file() { cmp -s "$1" "$2"; }
release_two() {
  same_file "$unix_install/Bin/moteur.dll" "$versions/v2/Bin/moteur.dll" && same_file "$unix_install/donnees.bin" "$versions/v2/donnees.bin" &&
    same_file "$unix_install/Notes.txt" "$versions/v2/Notes.txt" &&
    same_file "$unix_install/Bin/outils-2.dll" "$versions/v2/Bin/outils-2.dll" && test ! -e "$unix_install/Bin/outils-1.dll"
}

echo "== the package carries the two changed files and the renamed one as deltas"
e2e_check "varno-pack builds the package" build
e2e_check "it says what the deltas saved" grep -q '^deltas: 3 changed files of ' "$VARNO_WINE_TMP/build.txt"
e2e_check "the description lists the three deltas" \
  test "$(tr -d '\r' <"$package/MjaIni.ini" | sed -n '/^\[delta\]$/,/^\[delete\]$/p' | cut -d'|' -f1 | paste -sd ' ')" = '[delta] donnees.bin Bin\moteur.dll Bin\outils-2.dll [delete]'
e2e_check "the renamed library is made from its old name" grep -q '|Bin\\outils-1.dll' "$package/MjaIni.ini"
e2e_check "the package is a small fraction of the files" test "$(stat -c %s "$package/sor_delta.slp")" -lt 100000
e2e_check "the new file travels compressed" test "$(head -c 3 "$package/sor_ti1.slp")" = SG2

echo "== applied to the previous release"
install_v1
run
e2e_check "exit code 0 (got $CODE)" test "$CODE" = 0
e2e_check "both files are those of the new release" release_two
e2e_check "the log tells each delta applied" log_has 'Différence appliquée : Bin\moteur.dll'
e2e_check "no backup is left" test -z "$(find "$unix_install" -name '*.vrnundo*' -o -name '*.tmp')"

echo "== a machine whose file was changed by hand"
install_v1
printf 'retouche' >>"$unix_install/donnees.bin"
before=$(installation)
check_against() {
  local status=0
  (cd "$package" && WINEDEBUG=-all wine "$pack_tool" check 'C:\Paquet' --against "$install" >"$VARNO_WINE_TMP/check.txt" 2>&1) || status=$?
  [ "$status" -eq 2 ] && grep -q 'delta-does-not-fit' "$VARNO_WINE_TMP/check.txt" &&
    grep -q '^2 of 3 deltas apply to ' "$VARNO_WINE_TMP/check.txt" || { echo "check exited $status:"; cat "$VARNO_WINE_TMP/check.txt"; return 1; }
}
e2e_check "varno-pack check --against tells which delta does not fit" check_against
run
e2e_check "exit code 1620 (got $CODE)" test "$CODE" = 1620
e2e_check "nothing changed" test "$before" = "$(installation)"
e2e_check "the log names the file" log_has "Fichier installé différent de celui auquel la différence s'applique : donnees.bin"

echo "== a failure later in the run"
install_v1
before=$(installation)
printf '[reg]\r\nFlag: bool; peut-etre\r\n' >>"$package/MjaIni.ini"
run
e2e_check "exit code 1603 (got $CODE)" test "$CODE" = 1603
e2e_check "the deltas were applied before the failure" log_has 'Différence appliquée : donnees.bin'
e2e_check "every delta-made file is back" test "$before" = "$(installation)"

echo "== with the whole files beside the deltas"
e2e_check "varno-pack builds the package with --with-full-files" build --with-full-files
install_v1
printf 'retouche' >>"$unix_install/donnees.bin"
run
e2e_check "exit code 0 (got $CODE)" test "$CODE" = 0
e2e_check "both files are those of the new release" release_two
e2e_check "the log tells the whole file was used" log_has 'Fichier installé différent, le fichier entier est utilisé : donnees.bin'

echo "== answered in the window (the installed files are digested while the question waits)"
install_v1
e2e_start "$package" Varnolith_MAJ_Solo.exe
e2e_key "$(e2e_wait_window '^Confirmation$' 60)" o
form=$(e2e_wait_window 'jour de Varnolith$' 60)
e2e_wait_log "$unix_install/VarnoMaJLog.txt" SetUpDateTable 30
e2e_key "$form" Return
e2e_check "Quitter ends the program" e2e_wait_exit 30
e2e_check "both files are those of the new release" release_two
e2e_check "made from their deltas" log_has 'Différence appliquée : donnees.bin'
e2e_finish
