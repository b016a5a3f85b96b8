#!/usr/bin/env bash
# The gates of a run, answered as a person would: the first question, the version gate with
# and without Action.exe, the repeated update, the directory dialog when no installation is
# found, and a run through the rights test to the quit button.
. "$(dirname "$0")/e2e.sh"
exe=$1
samples=$(dirname "$exe")/samples
e2e_begin "$2" "$3"

package=$(varno_unix_path 'C:\Paquet')
install='C:\Produits\Varnolith'
install_log=$(varno_unix_path "$install")/VarnoMaJLog.txt
desktop_log="$VARNO_WINE_USER_DIR/Desktop/VarnoMaJLog.txt"
start_lines='Mise à jour Varnolith\r\nCurrentDir =C:\\Paquet\r\nValidControl terminé avec succès\r\nChemin de Varnolith installé :C:\\Produits\\Varnolith\r\n'
# From the second run on, the log of the earlier run is in the way of the move: the first
# file is deleted instead, and that is logged.
again_lines="${start_lines}Le fichier journal provisoire a été supprimé du bureau\r\n"
finish_line='Fin contrôlée du programme de mise à jour\r\n'
run() { e2e_start "$package" Varnolith_MAJ_Solo.exe; }
answer_question() { e2e_key "$(e2e_wait_window '^Confirmation$' 60)" "$1"; }

echo "== Non at the first question"
e2e_install "$samples" "$install" 2816080 app-paths
e2e_package "$package" "$exe" 2816090
run
answer_question n
e2e_check "Non ends the program (1602)" e2e_wait_exit 30 1602
e2e_check "the log moved into the installation with lines 1, 2, 4, 5, 8 and 33" \
  e2e_log_is "$install_log" "${start_lines}Réponse NON à l'invite de mise à jour\r\n${finish_line}"
e2e_check "no log is left on the desktop" test ! -e "$desktop_log"

echo "== a newer installation"
e2e_install "$samples" "$install" 2816099 app-paths
run
answer_question o
box=$(e2e_wait_window '^Varnolith_maj_solo$' 30)
e2e_check "the newer installation is reported" \
  e2e_box_shown 'La version install\00e9e est plus r\00e9cente que la mise \00e0 jour.\nLa mise \00e0 jour ne peut \00eatre ex\00e9cut\00e9e.'
e2e_key "$box" Return
e2e_check "the program ends after the message (1638)" e2e_wait_exit 30 1638
e2e_check "nothing is logged after the answer" \
  e2e_log_is "$install_log" "${again_lines}Réponse OUI à l'invite de mise à jour\r\n${finish_line}"

echo "== a newer installation, Action.exe in the package"
cp "$samples/Action.exe" "$package/"
run
answer_question o
e2e_check "the program ends silently (1638)" e2e_wait_exit 30 1638
e2e_check "only the question was shown" test "$(e2e_box_count)" = 1
e2e_check "Action.exe was not started" test ! -e "$package/Action.txt"
rm "$package/Action.exe"

echo "== the same version, Non to the warning"
e2e_install "$samples" "$install" 2816090 app-paths
run
answer_question o
e2e_key "$(e2e_wait_window '^Avertissement$' 30)" n
e2e_check "Non to the warning ends the program (1602)" e2e_wait_exit 30 1602
e2e_check "the warning was asked" \
  e2e_box_shown 'Cette Mise \00e0 jour est d\00e9j\00e0 effective.\rVoulez-vous vraiment la reproduire ?'
e2e_check "the comparison is logged, the refusal is not" \
  e2e_log_is "$install_log" "${again_lines}Réponse OUI à l'invite de mise à jour\r\nVersion installée moins récente que la nouvelle\r\n${finish_line}"

echo "== the same version, Oui to the warning: the run goes through"
run
answer_question o
e2e_key "$(e2e_wait_window '^Avertissement$' 30)" o
form=$(e2e_wait_window 'jour de Varnolith$' 30)
e2e_wait_log "$install_log" SetUpDateTable 10
e2e_shot gates-complete-run
e2e_check "the log holds the whole run" \
  e2e_log_is "$install_log" "${again_lines}Réponse OUI à l'invite de mise à jour\r\nVersion installée moins récente que la nouvelle\r\nPossède les droits suffisants pour installer la mise à jour\r\nAvant Création WriteLogList\r\nAprès Création WriteLogList\r\nFileCopy effectué\r\nSuccès WritePckname\r\nAvant CreateNewDir\r\nAvant CopyInNewDir\r\nAprès CopyInNewDir\r\nAvant MjaShellLink \r\nAvant AddShellLink \r\nAvant MjaVarnoReg  \r\naprès MjaVarnoReg  \r\nAprès WriteLogList.SaveToFile\r\nAvant l'enregistrement de Varxxlith.ocx\r\nEnregistrement de Varxxlith.ocx dans C:\\windows\\system32\r\nAprès l'enregistrement de Varxxlith.ocx\r\nAprès SetUpDateTable\r\n"
e2e_key "$form" Return
e2e_check "Quitter ends the program" e2e_wait_exit 30
e2e_check "the shutdown line closes the log" \
  sh -c "tail -n 1 '$install_log' | iconv -f CP1252 -t UTF-8 | grep -q '^Fin contrôlée'"
e2e_check "the version is recorded" test "$(e2e_reg_value 'HKLM\Software\Tolmerik\Varnolith' Version)" = 2816090
e2e_check "the rights test left no DeleteMe key" \
  sh -c "! wine reg query 'HKLM\\SOFTWARE\\DeleteMe' /reg:32 >/dev/null 2>&1 && ! wine reg query 'HKCU\\SOFTWARE\\DeleteMe' >/dev/null 2>&1"

echo "== no installation found: the directory dialog, cancelled"
printf 'REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Varnolith.exe]\n\n[-HKEY_LOCAL_MACHINE\\Software\\Tolmerik]\n' | e2e_reg_import
rm -f "$desktop_log"
run
dialog=$(e2e_wait_window 'lection du r' 60)
e2e_shot directory-dialog
e2e_key "$dialog" Escape
answer_question o
error=$(e2e_wait_window '^Varnolith_maj_solo$' 30)
e2e_check "the error box names the empty version" e2e_box_shown "'' n'est pas une valeur enti\\00e8re correcte."
e2e_key "$error" Return
form=$(e2e_wait_window 'jour de Varnolith$' 30)
e2e_check "the window stays open after the error" kill -0 "$E2E_PID"
e2e_key "$form" alt+F4
e2e_check "the close box ends the program (1605)" e2e_wait_exit 30 1605
e2e_check "the log stays on the desktop" \
  e2e_log_is "$desktop_log" 'Mise à jour Varnolith\r\nCurrentDir =C:\\Paquet\r\nValidControl terminé avec succès\r\nChemin de Varnolith installé :\r\nRéponse OUI à l'"'"'invite de mise à jour\r\nFin contrôlée du programme de mise à jour\r\n'

echo "== no installation found: a directory chosen in the dialog"
e2e_install "$samples" 'C:\Ailleurs\Varnolith' 2816080
rm -f "$desktop_log"
run
dialog=$(e2e_wait_window 'lection du r' 60)
xdotool windowfocus --sync "$dialog" 2>/dev/null || true
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 20 'C:\Ailleurs\Varnolith'
xdotool key Return
answer_question n
e2e_check "Non ends the program (1602)" e2e_wait_exit 30 1602
e2e_check "the chosen directory is the installation" \
  sh -c "iconv -f CP1252 -t UTF-8 '$(varno_unix_path 'C:\Ailleurs\Varnolith')/VarnoMaJLog.txt' | grep -q 'installé :C:.Ailleurs.Varnolith'"
e2e_finish
