#!/usr/bin/env bash
# All or nothing with the real program: a registry value the package gets wrong, after files
# were replaced and shortcuts renamed, takes the whole run back; a product file held open by
# another program is asked about before anything is written: Annuler changes nothing, and
# Réessayer once that program has ended completes the update.
. "$(dirname "$0")/e2e.sh"
exe=$1
samples=$(dirname "$exe")/samples
link_tool=$4
hold_file=$5
e2e_begin "$2" "$3"

install='C:\Produits\Varnolith'
unix_install=$(varno_unix_path "$install")
package=$(varno_unix_path 'C:\Paquet')
common_desktop='C:\users\Public\Desktop'
unix_desktop=$(varno_unix_path "$common_desktop")
e2e_install "$samples" "$install" 2816080 app-paths
printf '[SurFile]\r\nancien.dll\r\n[****]\r\n' >"$unix_install/UninstCgg.slt"
printf 'contenu precedent' >"$unix_install/data.bin"
mkdir -p "$unix_desktop"
wine "$link_tool" create "$install\\Varnolith.exe" "$common_desktop\\Varnolith 2.8.lnk" 2>/dev/null
printf 'nouveau' >"$VARNO_WINE_TMP/data.bin"
printf 'neuf' >"$VARNO_WINE_TMP/new.dll"

snapshot() {
  (cd "$unix_install" && find . -type f ! -name VarnoMaJLog.txt -exec md5sum {} + | sort)
  ls "$unix_desktop"
  wine reg query 'HKLM\Software\Tolmerik\Varnolith' /reg:32 2>/dev/null | tr -d '\r' | grep -v '^$'
}
snapshot >"$VARNO_WINE_TMP/before"
same_as_before() { snapshot | diff "$VARNO_WINE_TMP/before" -; }
log_has() { iconv -f CP1252 -t UTF-8 "$unix_install/VarnoMaJLog.txt" | grep -qF "$1"; }

echo "== a value the registry step rejects, after files and shortcuts changed"
e2e_package "$package" "$exe" 2816090 \
  $'[desk]\r\nVarnolith.exe: Varnolith Pro\r\n[reg]\r\nPort: integer; 8080\r\nFlag: bool; peut-etre\r\n'
e2e_archive "$package/sor_ti1.slp" new.dll "$VARNO_WINE_TMP/new.dll" data.bin "$VARNO_WINE_TMP/data.bin"
e2e_start "$package" Varnolith_MAJ_Solo.exe
e2e_key "$(e2e_wait_window '^Confirmation$' 60)" o
error=$(e2e_wait_window '^Varnolith_maj_solo$' 120)
e2e_key "$error" Return
form=$(e2e_wait_window 'jour de Varnolith$' 30)
for i in $(seq 100); do log_has 'installation restaurée' && break; sleep 0.1; done
e2e_shot rolled-back
e2e_key "$form" alt+F4
e2e_check "the program ends with 1603" e2e_wait_exit 30 1603
e2e_check "files, record, shortcuts and registry are as before" same_as_before
e2e_check "the log tells the rollback" log_has 'Mise à jour annulée, installation restaurée'
e2e_check "no journal is left" test ! -e "$unix_install/VarnoMaJ.journal"

echo "== a product file held open: Annuler"
e2e_package "$package" "$exe" 2816090 ''
e2e_hold "$hold_file" "$install\\data.bin"
e2e_start "$package" Varnolith_MAJ_Solo.exe
e2e_key "$(e2e_wait_window '^Confirmation$' 60)" o
box=$(e2e_wait_window '^Avertissement$' 60)
e2e_check "the box names the file in use" grep -q 'MSGBOX_OnInit.*Produits.*data.bin' "$VARNO_WINE_TMP/stderr"
e2e_shot files-in-use
e2e_key "$box" Escape
e2e_check "Annuler ends the program with 1602" e2e_wait_exit 30 1602
e2e_check "nothing changed" same_as_before

echo "== the same, Réessayer once the program holding it has ended"
e2e_start "$package" Varnolith_MAJ_Solo.exe
e2e_key "$(e2e_wait_window '^Confirmation$' 60)" o
box=$(e2e_wait_window '^Avertissement$' 60)
e2e_release
e2e_key "$box" r
form=$(e2e_wait_window 'jour de Varnolith$' 60)
for i in $(seq 300); do log_has 'SetUpDateTable' && break; sleep 0.1; done
e2e_key "$form" Return
e2e_check "the update completes" e2e_wait_exit 60
e2e_check "the file that was in use is replaced" test "$(cat "$unix_install/data.bin")" = nouveau
e2e_finish
