#!/usr/bin/env bash
# The real program killed while it unpacks a large member over an existing product file:
# the uninstall record and every product file stay whole (the member was going to a
# temporary file). Killed again in a large member of a directory the run made: the next
# run takes the run back (the temporary file, then the directory) and completes. Then
# killed after the uninstall record is saved, while the control registers: the next run
# restores the installation (the record without that run's entries, the earlier "Version")
# and completes. Then killed once the first shortcut's renaming is journaled: the next run
# gives the shortcuts back their names and completes. After each, nothing of an
# interrupted run is left anywhere. Arguments: UPDATER TEMPLATE SHOTS LINK_TOOL.
. "$(dirname "$0")/e2e.sh"
exe=$1
link_tool=$4
samples=$(dirname "$exe")/samples
e2e_begin "$2" "$3"
# Wine's menu builder would add a .desktop file beside every shortcut saved on a desktop.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"

install='C:\Produits\Varnolith'
unix_install=$(varno_unix_path "$install")
package=$(varno_unix_path 'C:\Paquet')
e2e_install "$samples" "$install" 2816080 app-paths
printf '[SurFile]\r\nancien.dll\r\n[****]\r\n' >"$unix_install/UninstCgg.slt"
printf 'contenu precedent' >"$unix_install/data.bin"
cp "$unix_install/UninstCgg.slt" "$VARNO_WINE_TMP/record-before"
cp -r "$unix_install" "$VARNO_WINE_TMP/install-before"
e2e_package "$package" "$exe" 2816090 "$(printf '[subdir]\r\nDonnees\r\n[insubdir]\r\nDonnees : donnees.slp\r\n')"
truncate -s 400M "$VARNO_WINE_TMP/data.bin"
printf 'apres' >"$VARNO_WINE_TMP/after.txt"
e2e_archive "$package/sor_ti1.slp" data.bin "$VARNO_WINE_TMP/data.bin" after.txt "$VARNO_WINE_TMP/after.txt"
head -c 300M /dev/urandom >"$VARNO_WINE_TMP/gros.bin"
e2e_archive "$package/donnees.slp" gros.bin "$VARNO_WINE_TMP/gros.bin"

# kill_when_writing DIR: kills Wine as soon as a temporary file of over 1 MB grows in DIR.
kill_when_writing() {
  local killed=no
  for i in $(seq 1500); do
    if [ -n "$(find "$1" -maxdepth 1 -iname 'vrn*.tmp' -size +1M 2>/dev/null | head -n 1)" ]; then
      wineserver -k
      killed=yes
      break
    fi
    sleep 0.02
  done
  wait "$E2E_PID" 2>/dev/null || true
  E2E_PID=
  test "$killed" = yes
}

# no_leftovers: no temporary file, backup, journal or log temporary anywhere a run writes.
no_leftovers() {
  local found
  found=$(find "$unix_install" "$(varno_unix_path 'C:\windows\syswow64')" "$(varno_unix_path 'C:\users')" \
    "$(varno_unix_path 'C:\ProgramData\Microsoft\Windows\Start Menu')" \
    \( -iname 'vrn*.tmp' -o -iname '*.vrnundo*' -o -iname 'VarnoMaJ.journal*' -o -iname '*.txt.tmp' \) 2>/dev/null)
  [ -z "$found" ] || { echo "left over: $found"; return 1; }
}

# run_to_the_end: a run answered Oui, closed with Quitter once it is over.
run_to_the_end() {
  local form
  e2e_start "$package" Varnolith_MAJ_Solo.exe
  e2e_key "$(e2e_wait_window '^Confirmation$' 60)" o
  form=$(e2e_wait_window 'jour de Varnolith$' 120)
  e2e_wait_log "$unix_install/VarnoMaJLog.txt" SetUpDateTable 30
  e2e_key "$form" Return
}

e2e_start "$package" Varnolith_MAJ_Solo.exe
e2e_key "$(e2e_wait_window '^Confirmation$' 60)" o
e2e_check "the updater was killed while it wrote the large member" kill_when_writing "$unix_install"
e2e_check "the uninstall record is whole" cmp "$unix_install/UninstCgg.slt" "$VARNO_WINE_TMP/record-before"
e2e_check "the product file being replaced keeps its previous content" \
  test "$(cat "$unix_install/data.bin")" = 'contenu precedent'
e2e_check "the other product files are whole" \
  sh -c "for f in Varnolith.exe AdminVarnolith.exe Admin.dll Varxxlith.ocx VarnoUpDate.dll; do cmp \"$unix_install/\$f\" \"$VARNO_WINE_TMP/install-before/\$f\" || exit 1; done"
e2e_check "the member after it was not written" test ! -e "$unix_install/after.txt"

echo "== a second run, killed in a directory it made"
e2e_start "$package" Varnolith_MAJ_Solo.exe
e2e_key "$(e2e_wait_window '^Confirmation$' 60)" o
for i in $(seq 1500); do [ -d "$unix_install/Donnees" ] && break; sleep 0.02; done
e2e_check "the updater was killed while it wrote into the new directory" kill_when_writing "$unix_install/Donnees"

echo "== a third run"
run_to_the_end
e2e_check "the third run ends normally" e2e_wait_exit 60
e2e_check "it took the killed run back first" sh -c \
  "iconv -f CP1252 -t UTF-8 '$unix_install/VarnoMaJLog.txt' | grep -A1 'Mise à jour interrompue trouvée' | grep -q 'installation restaurée'"
e2e_check "nothing of the killed runs is left" no_leftovers
e2e_check "the member of the new directory is whole" cmp "$unix_install/Donnees/gros.bin" "$VARNO_WINE_TMP/gros.bin"
e2e_check "the large member is whole" cmp "$unix_install/data.bin" "$VARNO_WINE_TMP/data.bin"
e2e_check "the member after it is there" test "$(cat "$unix_install/after.txt" 2>/dev/null)" = apres
e2e_check "the record gains this run's entries and marker" \
  e2e_log_is "$unix_install/UninstCgg.slt" \
  '[SurFile]\r\nafter.txt\r\nancien.dll\r\n[****]\r\n[SurDir]\r\nDonnees\r\n[SurFileDir]\r\ngros.bin\r\n[****]\r\n'

echo "== killed after the record is saved, while the control registers"
version_key='HKLM\Software\Tolmerik\Varnolith'
e2e_package "$package" "$exe" 2816100
printf 'troisieme' >"$VARNO_WINE_TMP/third.txt"
e2e_archive "$package/sor_ti1.slp" third.txt "$VARNO_WINE_TMP/third.txt"
hold="$VARNO_WINE_TMP/hold-registration"
touch "$hold"
VARNO_HOLD_REGISTRATION=$(winepath -w "$hold" 2>/dev/null)
export VARNO_HOLD_REGISTRATION
e2e_start "$package" Varnolith_MAJ_Solo.exe
unset VARNO_HOLD_REGISTRATION
e2e_key "$(e2e_wait_window '^Confirmation$' 60)" o
for i in $(seq 600); do [ -e "$hold.held" ] && break; sleep 0.1; done
record_saved='[SurFile]\r\nthird.txt\r\nafter.txt\r\nancien.dll\r\n[****]\r\n[SurDir]\r\nDonnees\r\n[SurFileDir]\r\ngros.bin\r\n[****]\r\n[****]\r\n'
e2e_check "the record of the run is saved when the control registers" e2e_log_is "$unix_install/UninstCgg.slt" \
  "$record_saved"
e2e_check "the registry already names the new version" test "$(e2e_reg_value "$version_key" Version)" = 2816100
wineserver -k
wait "$E2E_PID" 2>/dev/null || true
E2E_PID=
rm -f "$hold"
e2e_check "the killed run left its journal" test -e "$unix_install/VarnoMaJ.journal"

echo "== the run after it"
run_to_the_end
e2e_check "the run after it ends normally" e2e_wait_exit 60
e2e_check "it restored the interrupted run first" sh -c \
  "iconv -f CP1252 -t UTF-8 '$unix_install/VarnoMaJLog.txt' | grep -A1 'Mise à jour interrompue trouvée' | grep -q 'installation restaurée'"
e2e_check "the record holds the run's entries once" e2e_log_is "$unix_install/UninstCgg.slt" "$record_saved"
e2e_check "the registry names the new version" test "$(e2e_reg_value "$version_key" Version)" = 2816100
e2e_check "the new file is there" test "$(cat "$unix_install/third.txt" 2>/dev/null)" = troisieme
e2e_check "nothing of the killed run is left" no_leftovers

echo "== killed while the shortcuts are renamed"
user=$(basename "$VARNO_WINE_USER_DIR")
desktops=("C:\\users\\Public\\Desktop" "C:\\users\\$user\\Desktop")
for desktop in "${desktops[@]}"; do
  wine "$link_tool" create "$install\\Varnolith.exe" "$desktop\\Varnolith.lnk" >/dev/null 2>&1
done
shortcuts() { for d in "${desktops[@]}"; do (cd "$(varno_unix_path "$d")" && ls *.lnk 2>/dev/null); done | paste -sd '|'; }
before=$(shortcuts)
e2e_package "$package" "$exe" 2816110
e2e_archive "$package/sor_ti1.slp" third.txt "$VARNO_WINE_TMP/third.txt"
e2e_start "$package" Varnolith_MAJ_Solo.exe
e2e_key "$(e2e_wait_window '^Confirmation$' 60)" o
killed=no
for i in $(seq 3000); do
  if grep -aq '^MOVED' "$unix_install/VarnoMaJ.journal" 2>/dev/null; then
    wineserver -k
    killed=yes
    break
  fi
  sleep 0.01
done
wait "$E2E_PID" 2>/dev/null || true
E2E_PID=
e2e_check "the updater was killed once a shortcut's renaming was journaled" test "$killed" = yes
run_to_the_end
e2e_check "the run after it ends normally" e2e_wait_exit 60
e2e_check "it took the killed run back first" sh -c \
  "iconv -f CP1252 -t UTF-8 '$unix_install/VarnoMaJLog.txt' | grep -A1 'Mise à jour interrompue trouvée' | grep -q 'installation restaurée'"
e2e_check "the shortcuts took the version label, once each" test "$(shortcuts)" = "$(echo "$before" | sed 's/Varnolith.lnk/Varnolith 2.9.lnk/g')"
e2e_check "nothing of the killed run is left" no_leftovers
e2e_finish
