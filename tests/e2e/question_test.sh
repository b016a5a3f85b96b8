#!/usr/bin/env bash
# With a package description present the updater asks its question in French with the
# buttons "&Oui" and "&Non". Non ends the run with the refusal logged. Oui goes on to the
# version gate, where an installed version that is not known ends in the error box; the
# window then stays open, without its quit button, until the user closes it.
. "$(dirname "$0")/e2e.sh"
exe=$1
e2e_begin "$2" "$3"

package=$(varno_unix_path 'C:\Paquet')
mkdir -p "$package"
cp "$exe" "$package/"
printf 'Varnolith\r\n2816090\r\n' >"$package/MjaIni.ini"
desktop_log="$VARNO_WINE_USER_DIR/Desktop/VarnoMaJLog.txt"

# Non.
e2e_start "$package" Varnolith_MAJ_Solo.exe
box=$(e2e_wait_window '^Confirmation$' 60)
e2e_shot question
e2e_key "$box" n
e2e_check "Non ends the program" e2e_wait_exit 30
e2e_check "the question was asked in French" \
  grep -qF 'MSGBOX_OnInit L"Voulez-vous installer la mise \00e0 jour de Varnolith ?"' "$VARNO_WINE_TMP/stderr"
e2e_cp1252 'Mise à jour Varnolith\r\nCurrentDir =C:\\Paquet\r\nRéponse NON à l'"'"'invite de mise à jour\r\nFin contrôlée du programme de mise à jour\r\n' >"$VARNO_WINE_TMP/expected-non.txt"
e2e_check "the log records the refusal" same_file_bytes "$desktop_log" "$VARNO_WINE_TMP/expected-non.txt"

# Oui.
e2e_start "$package" Varnolith_MAJ_Solo.exe
box=$(e2e_wait_window '^Confirmation$' 60)
e2e_key "$box" o
error=$(e2e_wait_window '^Varnolith_maj_solo$' 30)
e2e_shot error-box
e2e_check "the error box shows the conversion error with its full stop" \
  grep -qF "MSGBOX_OnInit L\"'' n'est pas une valeur enti\\00e8re correcte.\"" "$VARNO_WINE_TMP/stderr"
e2e_key "$error" Return
form=$(e2e_wait_window 'jour de Varnolith$' 30)
e2e_shot window-after-error
e2e_check "the window stays open after the error" kill -0 "$E2E_PID"
e2e_key "$form" alt+F4
e2e_check "the close box ends the program" e2e_wait_exit 30
e2e_check "the last log line is written at shutdown" \
  sh -c "tail -n 1 '$desktop_log' | iconv -f CP1252 -t UTF-8 | grep -q '^Fin contrôlée du programme de mise à jour'"
[ -f "$desktop_log" ] && { echo "--- log"; iconv -f CP1252 -t UTF-8 "$desktop_log"; }
e2e_finish
