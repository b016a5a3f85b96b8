#!/usr/bin/env bash
# An update at night with the product left open: a windowed Varnolith.exe that holds the
# database library it loaded. Without /closeapplications the log names the program and the
# run ends 1618 with nothing changed; with it the program is asked to end as at log-off, the
# library is replaced and the program is started again as it was (its command line and its
# current directory). Exit codes are read whole through a small Windows program.
. "$(dirname "$0")/e2e.sh"
exe=$1
samples=$(dirname "$exe")/samples
exit_code=$4
e2e_begin "$2" "$3"

install='C:\Produits\Varnolith'
unix_install=$(varno_unix_path "$install")
package=$(varno_unix_path 'C:\Paquet')
work='C:\Travail'
mkdir -p "$(varno_unix_path "$work")"
trace=$(varno_unix_path 'C:\Travail\lancements.txt')
fleet_log=$(varno_unix_path 'C:\Journaux\varnolith.log')
mkdir -p "$(dirname "$fleet_log")"

e2e_install "$samples" "$install" 2816080 app-paths
cp "$samples/open/Varnolith.exe" "$unix_install/Varnolith.exe"
# The release's library: the same code with other bytes, so that its replacement shows.
cp "$samples/VarnoUpDate.dll" "$VARNO_WINE_TMP/VarnoUpDate.dll"
printf 'nouvelle version' >>"$VARNO_WINE_TMP/VarnoUpDate.dll"
e2e_package "$package" "$exe" 2816090 ''
e2e_archive "$package/sor_ti1.slp" VarnoUpDate.dll "$VARNO_WINE_TMP/VarnoUpDate.dll"

# The user's product, started from its documents with an argument of its own.
(cd "$(varno_unix_path "$work")" && wine "$install\\Varnolith.exe" '/trace=C:\Travail\lancements.txt' \
   >/dev/null 2>&1) &
product_shell=$!
e2e_wait_window '^Varnolith ouvert$' 60 >/dev/null

# The code goes through a file: the program started again would keep a pipe open.
run() {
  (cd "$package" && wine "$exit_code" Varnolith_MAJ_Solo.exe "$@" >"$VARNO_WINE_TMP/code" 2>>"$VARNO_WINE_TMP/stderr")
  CODE=$(tr -d '\r' <"$VARNO_WINE_TMP/code")
}
log_has() { iconv -f CP1252 -t UTF-8 "$fleet_log" | tr -d '\r' | grep -qE "$1"; }
library() { md5sum <"$unix_install/VarnoUpDate.dll"; }
open_windows() { xdotool search --onlyvisible --name '^Varnolith ouvert$' 2>/dev/null | wc -l; }

echo "== left open, without the option: named in the log, 1618, nothing changed"
before=$(library)
run /quiet '/log=C:\Journaux\varnolith.log'
e2e_check "exit code 1618 (got $CODE)" test "$CODE" = 1618
e2e_check "the library is unchanged" test "$(library)" = "$before"
holder='Programme qui utilise des fichiers à remplacer : C:\\Produits\\Varnolith\\Varnolith\.exe \(processus [0-9]+, utilisateur [^)]+\) : C:\\Produits\\Varnolith\\VarnoUpDate\.dll'
e2e_check "the log names the program, its process and its user, and the file" log_has "^$holder\$"
e2e_check "the program is still open, never asked to close" test "$(open_windows)" = 1
e2e_check "it was started once" test "$(wc -l <"$trace")" = 1

echo "== with /closeapplications: closed, updated, started again as it was"
run /quiet /closeapplications '/log=C:\Journaux\varnolith.log'
e2e_check "exit code 0 (got $CODE)" test "$CODE" = 0
e2e_check "the library is replaced" same_file_bytes "$VARNO_WINE_TMP/VarnoUpDate.dll" "$unix_install/VarnoUpDate.dll"
e2e_check "the close is in the log" log_has '^Programme fermé : Varnolith\.exe \(processus [0-9]+, utilisateur [^)]+\)$'
e2e_check "the restart is in the log" log_has '^Programme relancé : .*Varnolith\.exe.*/trace=C:\\Travail\\lancements\.txt \(répertoire : C:\\Travail\\?\)$'
e2e_check "the program is open again" e2e_wait_window '^Varnolith ouvert$' 30
e2e_check "started again with the same command line and directory" \
  test "$(sed -n 1p "$trace")" = "$(sed -n 2p "$trace")"
e2e_check "started exactly twice" test "$(wc -l <"$trace")" = 2
e2e_shot close_applications_restarted

echo "== interactive: the box names the program; Fermer les programmes closes it and the update goes on"
printf 'version interactive' >>"$VARNO_WINE_TMP/VarnoUpDate.dll"
e2e_package "$package" "$exe" 2816091 ''
e2e_archive "$package/sor_ti1.slp" VarnoUpDate.dll "$VARNO_WINE_TMP/VarnoUpDate.dll"
e2e_start "$package" Varnolith_MAJ_Solo.exe
e2e_key "$(e2e_wait_window '^Confirmation$' 60)" o
box=$(e2e_wait_window '^Avertissement$' 60)
e2e_shot close_applications_box
# Wine's trace shows the box's line breaks as \r.
named_in_box() {
  grep -qE 'MSGBOX_OnInit L"Des fichiers de Varnolith .*VarnoUpDate\.dll\\r\\rProgrammes qui les utilisent :\\rVarnolith\.exe \(processus [0-9]+, utilisateur ' \
    "$VARNO_WINE_TMP/stderr"
}
e2e_check "the box names the program, its process and its user" named_in_box
e2e_key "$box" Return
form=$(e2e_wait_window 'jour de Varnolith$' 60)
# The run is complete once the product was started again. The product's window took the
# keyboard focus as it opened and the form does not get it back from xdotool under Wine:
# Quitter is clicked (the middle of its button, 109,159 in the form).
for i in $(seq 300); do
  [ "$(wc -l <"$trace")" = 3 ] && [ "$(open_windows)" = 1 ] && break
  sleep 0.1
done
e2e_shot close_applications_form
xdotool windowactivate --sync "$form" 2>/dev/null || true
xdotool mousemove --window "$form" 109 159 click 1
e2e_check "the update completes (0)" e2e_wait_exit 60 0
e2e_check "the library is replaced" same_file_bytes "$VARNO_WINE_TMP/VarnoUpDate.dll" "$unix_install/VarnoUpDate.dll"
e2e_check "the program is open again" e2e_wait_window '^Varnolith ouvert$' 30
e2e_check "started a third time" test "$(wc -l <"$trace")" = 3

echo "== a second copy that refuses to close: left running, 1618, nothing changed; with force, ended"
printf 'encore une version' >>"$VARNO_WINE_TMP/VarnoUpDate.dll"
e2e_package "$package" "$exe" 2816092 ''
e2e_archive "$package/sor_ti1.slp" VarnoUpDate.dll "$VARNO_WINE_TMP/VarnoUpDate.dll"
(cd "$(varno_unix_path "$work")" && wine "$install\\Varnolith.exe" /refuse '/trace=C:\Travail\lancements.txt' \
   >/dev/null 2>&1) &
for i in $(seq 100); do [ "$(open_windows)" = 2 ] && break; sleep 0.2; done
before=$(library)
run /quiet /closeapplications '/log=C:\Journaux\varnolith.log'
e2e_check "exit code 1618 (got $CODE)" test "$CODE" = 1618
e2e_check "the library is unchanged" test "$(library)" = "$before"
e2e_check "the refusal is in the log" log_has '^Programme non fermé, il a refusé de se fermer : Varnolith\.exe \(processus [0-9]+, utilisateur [^)]+\)$'
for i in $(seq 100); do [ "$(open_windows)" = 2 ] && break; sleep 0.2; done
e2e_check "both copies are open: the refuser left alone, the other started again" test "$(open_windows)" = 2
e2e_check "the refuser was never started again" test "$(grep -c /refuse "$trace")" = 1
run /quiet /forcecloseapplications '/log=C:\Journaux\varnolith.log'
e2e_check "with force: exit code 0 (got $CODE)" test "$CODE" = 0
e2e_check "with force: the library is replaced" same_file_bytes "$VARNO_WINE_TMP/VarnoUpDate.dll" "$unix_install/VarnoUpDate.dll"
e2e_check "with force: the forced end is in the log" log_has '^Programme arrêté sans son accord : Varnolith\.exe \(processus [0-9]+, utilisateur [^)]+\)$'
for i in $(seq 100); do [ "$(open_windows)" = 2 ] && break; sleep 0.2; done
e2e_check "with force: both are started again" test "$(open_windows)" = 2
e2e_check "with force: the refuser too, with its own command line" test "$(grep -c /refuse "$trace")" = 2

kill "$product_shell" 2>/dev/null || true
[ -f "$fleet_log" ] && { echo "--- fleet log"; iconv -f CP1252 -t UTF-8 "$fleet_log"; }
[ -f "$trace" ] && { echo "--- starts of the product"; cat "$trace"; }
e2e_finish
