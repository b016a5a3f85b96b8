#!/usr/bin/env bash
# A journal planted in the installation that names a file of the system directory and a
# value under the Run key, written by the account the updater runs as (Wine's one user): the
# updater, started without even a package, acts on none of it, sets the journal aside and
# says why in its log. Then one planted by copying that would,
# undone, rename a library of the attacker's onto the control's name in the system
# directory and load it: the control and the system directory stay as they were.
. "$(dirname "$0")/e2e.sh"
exe=$1
samples=$(dirname "$exe")/samples
e2e_begin "$2" "$3"

install='C:\Produits\Varnolith'
unix_install=$(varno_unix_path "$install")
e2e_install "$samples" "$install" 2816080 app-paths
victim="$(varno_unix_path 'C:\windows\syswow64')/victime.dll"
printf 'systeme' >"$victim"
printf 'VARNOJOURNAL\t2\r\nNEWFILE\t%s\r\nVALUE\tHKLM\tSoftware\\Microsoft\\Windows\\CurrentVersion\\Run\tplante\t1\tC:\\x.exe\r\n' \
  'C:\windows\system32\victime.dll' >"$unix_install/VarnoMaJ.journal"

package=$(varno_unix_path 'C:\Paquet')
mkdir -p "$package"
cp "$exe" "$package/"
e2e_start "$package" Varnolith_MAJ_Solo.exe
e2e_check "the program ends by itself (1620)" e2e_wait_exit 60 1620
e2e_check "the file the journal named is still there" test "$(cat "$victim" 2>/dev/null)" = systeme
e2e_check "no value was written under Run" \
  test -z "$(e2e_reg_value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' plante)"
e2e_check "the journal is set aside" test -e "$unix_install/VarnoMaJ.journal.ecarte" -a ! -e "$unix_install/VarnoMaJ.journal"
desktop_log="$VARNO_WINE_USER_DIR/Desktop/VarnoMaJLog.txt"
# Wine shows every file as its one user's: the planter's own account, which is the updater's
# own too, and no owner that counts.
e2e_check "the log says why" sh -c "iconv -f CP1252 -t UTF-8 '$desktop_log' | grep -qF 'Journal écarté sans être appliqué : il n'\''est pas celui d'\''une mise à jour exécutée en administrateur (son propriétaire n'\''est pas un administrateur) : C:\\Produits\\Varnolith'"

system=$(varno_unix_path 'C:\windows\syswow64')
cp "$samples/Varxxlith.ocx" "$system/Varxxlith.ocx"
control_before=$(sha256sum <"$system/Varxxlith.ocx")
system_before=$(ls -la --time-style=+%s "$system" | sha256sum)
cp "$samples/Admin.dll" "$unix_install/evil.dll"
rm -f "$unix_install/VarnoMaJ.journal.ecarte"
printf 'VARNOJOURNAL\t2\r\nCONTROL\t%s\r\nMOVED\t%s\t%s\r\nNEWFILE\t%s\r\n' 'C:\windows\system32\Varxxlith.ocx' \
  'C:\windows\system32\Varxxlith.ocx' "$install\\evil.dll" 'C:\windows\system32\Varxxlith.ocx' >"$unix_install/planted"
cp "$unix_install/planted" "$unix_install/VarnoMaJ.journal" && rm "$unix_install/planted"
e2e_start "$package" Varnolith_MAJ_Solo.exe
e2e_check "the program ends by itself again (1620)" e2e_wait_exit 60 1620
e2e_check "the control is the one installed" test "$(sha256sum <"$system/Varxxlith.ocx")" = "$control_before"
e2e_check "nothing of the system directory changed" test "$(ls -la --time-style=+%s "$system" | sha256sum)" = "$system_before"
e2e_check "the attacker's library is where it was dropped" test -f "$unix_install/evil.dll"
e2e_check "the second journal is set aside too" test -e "$unix_install/VarnoMaJ.journal.ecarte" -a ! -e "$unix_install/VarnoMaJ.journal"
e2e_check "the log says why" sh -c "iconv -f CP1252 -t UTF-8 '$desktop_log' | grep -qF 'Journal écarté sans être appliqué : il n'\''est pas celui d'\''une mise à jour exécutée en administrateur (son propriétaire n'\''est pas un administrateur) : C:\\Produits\\Varnolith'"
[ -f "$desktop_log" ] && { echo "--- log"; iconv -f CP1252 -t UTF-8 "$desktop_log"; }
e2e_finish
