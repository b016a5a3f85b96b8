#!/usr/bin/env bash
# Started from a directory without MjaIni.ini, the updater shows no box and no window and
# leaves on the desktop a log of exactly four lines (the third in two physical lines).
. "$(dirname "$0")/e2e.sh"
exe=$1
e2e_begin "$2" "$3"

package=$(varno_unix_path 'C:\Paquet')
mkdir -p "$package"
cp "$exe" "$package/"
e2e_start "$package" Varnolith_MAJ_Solo.exe
e2e_check "the program ends by itself (1620)" e2e_wait_exit 60 1620
e2e_check "no message box was shown" test -z "$(e2e_boxes)"

desktop_log="$VARNO_WINE_USER_DIR/Desktop/VarnoMaJLog.txt"
e2e_cp1252 'Mise à jour Varnolith\r\nCurrentDir =C:\\Paquet\r\nFichier Ini  manquant\r\nTerminé\r\nFin contrôlée du programme de mise à jour\r\n' >"$VARNO_WINE_TMP/expected.txt"
e2e_check "the desktop log holds exactly the lines of the run" same_file_bytes "$desktop_log" "$VARNO_WINE_TMP/expected.txt"
e2e_check "no log in the package directory" test ! -e "$package/VarnoMaJLog.txt"
e2e_check "nothing else on the desktop" test "$(ls -A "$VARNO_WINE_USER_DIR/Desktop")" = VarnoMaJLog.txt
[ -f "$desktop_log" ] && { echo "--- log"; iconv -f CP1252 -t UTF-8 "$desktop_log"; }
e2e_finish
