#!/usr/bin/env bash
# Runs without anyone present, as a deployment tool starts them: the exit code read whole
# through a small Windows program, no window or box ever visible on the display, the log
# where /log= puts it, and the installation unchanged whenever the run does not apply.
. "$(dirname "$0")/e2e.sh"
exe=$1
samples=$(dirname "$exe")/samples
exit_code=$4
hold_file=$5
e2e_begin "$2" "$3"

install='C:\Produits\Varnolith'
unix_install=$(varno_unix_path "$install")
package=$(varno_unix_path 'C:\Paquet')
key='HKLM\SOFTWARE\Tolmerik\Varnolith'
fleet_log=$(varno_unix_path 'C:\Journaux\varnolith.log')
mkdir -p "$(dirname "$fleet_log")"

e2e_install "$samples" "$install" 2816080 app-paths
printf 'ancien' >"$unix_install/a.dll"
printf 'nouveau' >"$VARNO_WINE_TMP/a.dll"
e2e_package "$package" "$exe" 2816090 "$(printf '[reg]\r\nPort: integer; 8080\r\n')"
e2e_archive "$package/sor_ti1.slp" a.dll "$VARNO_WINE_TMP/a.dll"

# run DIR ARGUMENTS...: starts the updater from DIR through the exit code program, watching
# the display all along; sets CODE and SEEN (the names of the visible windows it saw).
run() {
  local dir=$1
  shift
  rm -f "$VARNO_WINE_TMP/seen" "$VARNO_WINE_TMP/done"
  (while [ ! -e "$VARNO_WINE_TMP/done" ]; do
     for id in $(xdotool search --onlyvisible --name '.*' 2>/dev/null); do
       echo "$(xdotool getwindowname "$id" 2>/dev/null)" >>"$VARNO_WINE_TMP/seen"
     done
     sleep 0.05
   done) &
  local watcher=$!
  CODE=$(cd "$dir" && WINEDEBUG=+msgbox wine "$exit_code" Varnolith_MAJ_Solo.exe "$@" 2>"$VARNO_WINE_TMP/stderr" | tr -d '\r')
  touch "$VARNO_WINE_TMP/done"
  wait "$watcher"
  SEEN=$(sort -u "$VARNO_WINE_TMP/seen" 2>/dev/null | paste -sd '|' || true)
}
unseen() { [ -z "$SEEN" ] && [ "$(e2e_box_count)" = 0 ] || { echo "seen: '$SEEN', boxes: $(e2e_box_count)"; return 1; }; }
installation() { (cd "$unix_install" && find . -type f ! -name VarnoMaJLog.txt -exec md5sum {} + | sort); wine reg query "$key" /reg:32 2>/dev/null | tr -d '\r'; }
unchanged() { diff <(echo "$1") <(echo "$(installation)"); }
logged() { iconv -f CP1252 -t UTF-8 "$fleet_log" | tr -d '\r' | grep -qxF "$1"; }

echo "== a quiet run applies the package, unseen, and logs where asked"
printf 'ligne d une autre mise a jour\r\n' >"$fleet_log"
run "$package" /quiet '/log=C:\Journaux\varnolith.log'
e2e_check "exit code 0 (got $CODE)" test "$CODE" = 0
e2e_check "no window and no box was ever visible" unseen
e2e_check "the version is recorded" test "$(e2e_reg_value "$key" Version)" = 2816090
e2e_check "the product file is replaced" test "$(cat "$unix_install/a.dll")" = nouveau
e2e_check "the earlier content of the log comes first" \
  test "$(head -n 2 "$fleet_log" | tr -d '\r')" = "$(printf 'ligne d une autre mise a jour\nMise \xe0 jour Varnolith')"
e2e_check "the confirmation is in the log" logged 'Message (Confirmation) : Voulez-vous installer la mise à jour de Varnolith ?'
e2e_check "the log ends with the exit code" \
  test "$(tail -n 2 "$fleet_log" | iconv -f CP1252 -t UTF-8 | tr -d '\r' | paste -sd '|')" = 'Code de sortie : 0|Fin contrôlée du programme de mise à jour'
e2e_check "no journal is left" test ! -e "$unix_install/VarnoMaJ.journal"
e2e_check "no log in the installation or on the desktop" \
  test -z "$(find "$unix_install" "$VARNO_WINE_USER_DIR/Desktop" -iname VarnoMaJLog.txt)"

echo "== the same package again: nothing changes"
before=$(installation)
run "$package" /QUIET '-log=C:\Journaux\varnolith.log'
e2e_check "exit code 0 (got $CODE)" test "$CODE" = 0
e2e_check "nothing visible" unseen
e2e_check "the installation is unchanged" unchanged "$before"
e2e_check "the equal version was left alone" logged 'Réponse automatique : NON'

echo "== a log in directories that do not exist yet, then a log that cannot be written"
made_log=$(varno_unix_path 'C:\ProgramData\Tolmerik\Journaux\VarnoMaJLog.txt')
run "$package" /quiet /reinstall '/log=C:\ProgramData\Tolmerik\Journaux\VarnoMaJLog.txt'
e2e_check "exit code 0 (got $CODE)" test "$CODE" = 0
e2e_check "the log is there, its directories logged" \
  sh -c "iconv -f CP1252 -t UTF-8 '$made_log' | tr -d '\r' | grep -qxF 'Répertoire du journal créé : C:\ProgramData\Tolmerik\Journaux'"
e2e_check "the log ends the run" \
  test "$(tail -n 1 "$made_log" | iconv -f CP1252 -t UTF-8 | tr -d '\r')" = 'Fin contrôlée du programme de mise à jour'
printf 'un fichier' >"$(varno_unix_path 'C:\ProgramData\Fichier')"
before=$(installation)
run "$package" /quiet /reinstall '/log=C:\ProgramData\Fichier\VarnoMaJLog.txt'
e2e_check "a path through a file: exit code 1622 (got $CODE)" test "$CODE" = 1622
e2e_check "nothing visible" unseen
e2e_check "nothing changed" unchanged "$before"

echo "== a newer installation"
wine reg add "$key" /v Version /d 2816091 /f /reg:32 >/dev/null 2>&1
run "$package" /quiet '/log=C:\Journaux\varnolith.log'
e2e_check "exit code 1638 (got $CODE)" test "$CODE" = 1638
wine reg add "$key" /v Version /d 2816080 /f /reg:32 >/dev/null 2>&1

echo "== a rejected [reg] value: everything restored"
printf 'ancien' >"$unix_install/a.dll"
e2e_package "$package" "$exe" 2816090 "$(printf '[reg]\r\nPort: integer; 8080\r\nActif: bool; peut-etre\r\n')"
before=$(installation)
run "$package" /quiet '/log=C:\Journaux\varnolith.log'
e2e_check "exit code 1603 (got $CODE)" test "$CODE" = 1603
e2e_check "nothing visible" unseen
e2e_check "the installation is as before" unchanged "$before"
e2e_check "the error is in the log" logged "Message (Varnolith_maj_solo) : 'peut-etre' n'est pas une valeur booléenne correcte."
e2e_check "the rollback is in the log" logged 'Mise à jour annulée, installation restaurée'
e2e_package "$package" "$exe" 2816090 "$(printf '[reg]\r\nPort: integer; 8080\r\n')"

echo "== a product file held open: the run waits, then 1618 with nothing changed"
before=$(installation)
e2e_hold "$hold_file" "$install\\a.dll"
run "$package" /quiet '/log=C:\Journaux\varnolith.log'
e2e_release
e2e_check "exit code 1618 (got $CODE)" test "$CODE" = 1618
e2e_check "nothing changed" unchanged "$before"
e2e_check "the file in use is in the log" logged "Fichier en cours d'utilisation : $install\\a.dll"
# Held by handle, not loaded: found through the system's list of open handles.
holder_named() {
  iconv -f CP1252 -t UTF-8 "$fleet_log" | tr -d '\r' | grep -qE \
    '^Programme qui utilise des fichiers à remplacer : .*\\varno_hold_file\.exe \(processus [0-9]+, utilisateur [^)]+\) : C:\\Produits\\Varnolith\\a\.dll$'
}
e2e_check "the program that holds it is named, with its process and user" holder_named

echo "== two updaters at once: the second ends with 1618"
e2e_start "$package" Varnolith_MAJ_Solo.exe
first=$(e2e_wait_window '^Confirmation$' 60)
run "$package" /quiet '/log=C:\Journaux\varnolith.log'
e2e_check "the second: exit code 1618 (got $CODE)" test "$CODE" = 1618
e2e_key "$first" n
e2e_check "the first goes on: Non ends it with 1602" e2e_wait_exit 30 1602
e2e_check "nothing changed" unchanged "$before"

echo "== no installation found, then given with /dir="
other='C:\Autre dossier\Varnolith'
mkdir -p "$(dirname "$(varno_unix_path "$other")")"
mv "$unix_install" "$(varno_unix_path "$other")"
wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\Varnolith.exe' /f /reg:32 >/dev/null 2>&1
run "$package" /quiet '/log=C:\Journaux\varnolith.log'
e2e_check "exit code 1605 (got $CODE)" test "$CODE" = 1605
e2e_check "no directory dialog, nothing visible" unseen
run "$package" /quiet '/log=C:\Journaux\varnolith.log' "/dir=$other"
e2e_check "with /dir= exit code 0 (got $CODE)" test "$CODE" = 0
e2e_check "the product file there is replaced" test "$(cat "$(varno_unix_path "$other")/a.dll")" = nouveau

echo "== no description"
empty=$(varno_unix_path 'C:\Vide')
mkdir -p "$empty"
cp "$exe" "$empty/"
run "$empty" /quiet '/log=C:\Journaux\varnolith.log'
e2e_check "exit code 1620 (got $CODE)" test "$CODE" = 1620

echo "== a wrong switch"
run "$package" /quiet /silencieux
e2e_check "quiet: exit code 1639 (got $CODE)" test "$CODE" = 1639
e2e_check "quiet: nothing visible" unseen
(cd "$package" && WINEDEBUG=+msgbox wine "$exit_code" Varnolith_MAJ_Solo.exe /silencieux 2>"$VARNO_WINE_TMP/stderr" \
   | tr -d '\r' >"$VARNO_WINE_TMP/code") &
E2E_PID=$!
e2e_key "$(e2e_wait_window '^Varnolith_maj_solo$' 60)" Return
e2e_check "interactive: the usage box ends" e2e_wait_exit 30
e2e_check "interactive: exit code 1639" test "$(cat "$VARNO_WINE_TMP/code")" = 1639
# Wine's trace cuts long texts: the start is enough.
usage_shown() { grep -qF 'MSGBOX_OnInit L"Utilisation : Varnolith_MAJ_Solo.exe [/quiet [/reinstall]] [/dir=CHEMIN] [/log=CHEMIN]\r    [/closeapplications | /forcecloseapplications]\r\r/quiet' "$VARNO_WINE_TMP/stderr"; }
e2e_check "interactive: the usage was shown" usage_shown

echo "== a Windows version the updater does not know"
wine reg add 'HKCU\Software\Wine' /v Version /d nt40 /f >/dev/null 2>&1
wineserver -w
run "$package" /quiet
e2e_check "quiet: exit code 1633 (got $CODE)" test "$CODE" = 1633
e2e_check "quiet: nothing visible" unseen
(cd "$package" && wine "$exit_code" Varnolith_MAJ_Solo.exe 2>/dev/null | tr -d '\r' >"$VARNO_WINE_TMP/code") &
E2E_PID=$!
e2e_key "$(e2e_wait_window '^Varnolith_maj_solo$' 60)" Return
e2e_check "interactive: the refusal box ends" e2e_wait_exit 30
e2e_check "interactive: exit code 1633" test "$(cat "$VARNO_WINE_TMP/code")" = 1633

[ -f "$fleet_log" ] && { echo "--- fleet log"; iconv -f CP1252 -t UTF-8 "$fleet_log"; }
e2e_finish
