#!/usr/bin/env bash
# Removal of what a release dropped, with the real program: a package whose "[delete]" removes
# a file and the directory it empties, then fails on a registry value later in the run,
# leaves both back; the same package without the faulty value removes them, takes them out
# of the uninstall record, and passes over a path that climbs out of the installation.
. "$(dirname "$0")/e2e.sh"
exe=$1
samples=$(dirname "$exe")/samples
pack_tool=$4
e2e_begin "$2" "$3"

install='C:\Produits\Varnolith'
unix_install=$(varno_unix_path "$install")
package=$(varno_unix_path 'C:\Paquet')
e2e_install "$samples" "$install" 2816080 app-paths
printf '[SurFile]\r\nancien.dll\r\n[SurDir]\r\nAncien\r\n[SurFileDir]\r\nvieux.txt\r\n[****]\r\n' \
  >"$unix_install/UninstCgg.slt"
printf 'ancien' >"$unix_install/ancien.dll"
mkdir -p "$unix_install/Ancien"
printf 'vieux' >"$unix_install/Ancien/vieux.txt"
printf 'hors installation' >"$unix_install/../Autre.txt"

snapshot() {
  (cd "$unix_install/.." && find . ! -name VarnoMaJLog.txt -exec sh -c 'printf "%s " "$1"; [ -f "$1" ] && md5sum <"$1" || echo dir' _ {} \; | sort)
  wine reg query 'HKLM\Software\Tolmerik\Varnolith' /reg:32 2>/dev/null | tr -d '\r' | grep -v '^$'
}
snapshot >"$VARNO_WINE_TMP/before"
same_as_before() { snapshot | diff "$VARNO_WINE_TMP/before" -; }
log_has() { iconv -f CP1252 -t UTF-8 "$unix_install/VarnoMaJLog.txt" | grep -qF "$1"; }
deletions=$'[delete]\r\nancien.dll\r\nAncien\\vieux.txt\r\nAncien\r\n..\\Autre.txt\r\n'

echo "== a value the registry step rejects, after the removals"
e2e_package "$package" "$exe" 2816090 "$deletions"$'[reg]\r\nFlag: bool; peut-etre\r\n'
e2e_start "$package" Varnolith_MAJ_Solo.exe
e2e_key "$(e2e_wait_window '^Confirmation$' 60)" o
e2e_key "$(e2e_wait_window '^Varnolith_maj_solo$' 120)" Return
form=$(e2e_wait_window 'jour de Varnolith$' 30)
for i in $(seq 100); do log_has 'installation restaurée' && break; sleep 0.1; done
e2e_key "$form" alt+F4
e2e_check "the program ends with 1603" e2e_wait_exit 30 1603
e2e_check "the log tells the file was removed before the rollback" log_has 'Fichier supprimé : Ancien\vieux.txt'
e2e_check "the log tells the directory was removed before the rollback" log_has 'Répertoire supprimé : Ancien'
e2e_check "the file, the directory and the record are back" same_as_before
e2e_check "no journal is left" test ! -e "$unix_install/VarnoMaJ.journal"

echo "== the same removals in a run that completes"
e2e_package "$package" "$exe" 2816090 "$deletions"
check_refuses_the_climb() {
  local status=0
  (cd "$package" && WINEDEBUG=-all wine "$pack_tool" check 'C:\Paquet' >"$VARNO_WINE_TMP/check.txt" 2>&1) || status=$?
  [ "$status" -eq 2 ] && grep -q 'MjaIni.ini:26: error: .*\[delete-refused\]' "$VARNO_WINE_TMP/check.txt" ||
    { echo "check exited $status:"; cat "$VARNO_WINE_TMP/check.txt"; return 1; }
}
e2e_check "varno-pack check (the Windows build) refuses the path that climbs out" check_refuses_the_climb
e2e_start "$package" Varnolith_MAJ_Solo.exe
e2e_key "$(e2e_wait_window '^Confirmation$' 60)" o
form=$(e2e_wait_window 'jour de Varnolith$' 60)
for i in $(seq 300); do log_has 'SetUpDateTable' && break; sleep 0.1; done
e2e_shot deleted
e2e_key "$form" Return
e2e_check "the update completes" e2e_wait_exit 60
e2e_check "the file is removed" test ! -e "$unix_install/ancien.dll"
e2e_check "the emptied directory is removed" test ! -e "$unix_install/Ancien"
e2e_check "no backup is left" test -z "$(find "$unix_install" -name '*.vrnundo*')"
e2e_check "the path that climbs out is passed over" test "$(cat "$unix_install/../Autre.txt")" = 'hors installation'
e2e_check "the log tells it was refused" log_has "Suppression refusée (hors du répertoire d'installation ou fichier du programme de mise à jour) : ..\\Autre.txt"
e2e_check "the record no longer lists them" \
  test "$(tr -d '\r' <"$unix_install/UninstCgg.slt" | tr '\n' ' ')" = '[SurFile] [SurDir] [SurFileDir] [****] [****] '
e2e_finish
