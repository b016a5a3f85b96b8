#!/usr/bin/env bash
# The typical run of the real program, on a package that touches every step: the main
# archive (which brings the control and the database library), new directories, a
# sub-directory archive, the product's shortcuts renamed after the version label, new
# shortcuts, typed registry values under French regional settings, the control registered
# and the database updated. The log, the record, the files, the registry, the shortcuts and
# the window are checked; the same package applied again adds only a run marker.
. "$(dirname "$0")/e2e.sh"
exe=$1
samples=$(dirname "$exe")/samples
link_tool=$4
e2e_begin "$2" "$3"
export E2E_LOCALE=fr_FR.UTF-8
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
common_desktop='C:\users\Public\Desktop'
common_group='C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Tolmerik'
link_target() { wine "$link_tool" target "$1" 2>/dev/null | tr -d '\r'; }

package=$(varno_unix_path 'C:\Paquet')
install='C:\Produits\Varnolith'
unix_install=$(varno_unix_path "$install")
record="$unix_install/UninstCgg.slt"
key='HKLM\SOFTWARE\Tolmerik\Varnolith'

e2e_install "$samples" "$install" 2816080 app-paths
rm "$unix_install/Varxxlith.ocx" "$unix_install/VarnoUpDate.dll"  # the package brings them
mkdir -p "$(varno_unix_path "$common_group")"
wine "$link_tool" create "$install\\Varnolith.exe" "$common_desktop\\Varnolith.lnk" >/dev/null 2>&1
wine "$link_tool" create "$install\\Varnolith.exe" "$common_group\\Varnolith.lnk" >/dev/null 2>&1
sections='[desk]\r\nAdminVarnolith.exe: Administration\r\n[programs]\r\nVarnolith.exe: Lancer Varnolith; Tolmerik\r\n[subdir]\r\nData\r\nData\\Images\r\n[insubdir]\r\nData\\Images : pics.slp\r\n[reg]\r\nNom: string; Varnolith 2.9\r\nPort: integer; 8080\r\nActif: bool; True\r\nRatio: float; 0.5\r\n\r\nDebut: date; 05-02-2024\r\nQuand: datetime; 05/02/2024 12:00\r\nHeure: time; 8h30\r\n'
e2e_package "$package" "$exe" 2816090 "$(printf "$sections")"
mkdir -p "$VARNO_WINE_TMP/members"
printf 'bibliotheque' >"$VARNO_WINE_TMP/members/a.dll"
head -c 40000 /dev/urandom >"$VARNO_WINE_TMP/members/b.dat"
printf 'BM image' >"$VARNO_WINE_TMP/members/logo.bmp"
e2e_archive "$package/sor_ti1.slp" a.dll "$VARNO_WINE_TMP/members/a.dll" b.dat "$VARNO_WINE_TMP/members/b.dat" \
  Varxxlith.ocx "$samples/Varxxlith.ocx" VarnoUpDate.dll "$samples/VarnoUpDate.dll"
e2e_archive "$package/pics.slp" logo.bmp "$VARNO_WINE_TMP/members/logo.bmp"

apply_package() {
  e2e_start "$package" Varnolith_MAJ_Solo.exe
  e2e_key "$(e2e_wait_window '^Confirmation$' 60)" o
  form=$(e2e_wait_window 'jour de Varnolith$' 60)
  e2e_wait_log "$unix_install/VarnoMaJLog.txt" SetUpDateTable 10
}

echo "== first run"
apply_package
e2e_shot typical-run
e2e_check "the registry label shows" test "$(e2e_dark_pixels "$form" 16 92 140 13)" -gt 40
e2e_check "the directories label shows" test "$(e2e_dark_pixels "$form" 17 35 140 11)" -gt 40
e2e_check "the shortcuts label shows" test "$(e2e_dark_pixels "$form" 16 70 140 13)" -gt 40
e2e_check "the status line reads in maroon" sh -c "convert '$E2E_SHOTS/typical-run.png' -fill black +opaque '#800000' -fill white -opaque '#800000' -format '%[fx:mean*w*h]' info: | awk '{exit !(\$1 > 100)}'"
# Between the registry label and the status line nothing is drawn, so the checks above can fail.
e2e_check "the space between the labels stays blank" test "$(e2e_dark_pixels "$form" 10 106 200 13)" -eq 0
e2e_key "$form" Return
e2e_check "Quitter ends the program" e2e_wait_exit 30
e2e_check "no box but the question" test "$(e2e_box_count)" = 1
e2e_check "the record lists what the run created" e2e_log_is "$record" \
  '[SurFile]\r\nVarnoUpDate.dll\r\nVarxxlith.ocx\r\nb.dat\r\na.dll\r\n[SurDir]\r\nData\\Images\r\nData\r\n[SurFileDir]\r\nlogo.bmp\r\n[SurDeskLink]\r\nAdministration\r\n[SurProgramsLink]\r\nLancer Varnolith\r\n[SurValReg]\r\nHeure\r\nQuand\r\nDebut\r\nRatio\r\nActif\r\nPort\r\nNom\r\n[****]\r\n'
e2e_check "the members are unpacked byte for byte" \
  sh -c "cmp '$VARNO_WINE_TMP/members/b.dat' '$unix_install/b.dat' && cmp '$VARNO_WINE_TMP/members/a.dll' '$unix_install/a.dll' && cmp '$VARNO_WINE_TMP/members/logo.bmp' '$unix_install/Data/Images/logo.bmp'"
e2e_check "no temporary file is left" test -z "$(find "$unix_install" -iname 'vrn*.tmp')"
e2e_check "the log holds the whole run" e2e_log_is "$unix_install/VarnoMaJLog.txt" \
  'Mise à jour Varnolith\r\nCurrentDir =C:\\Paquet\r\nValidControl terminé avec succès\r\nChemin de Varnolith installé :C:\\Produits\\Varnolith\r\nRéponse OUI à l'"'"'invite de mise à jour\r\nVersion installée moins récente que la nouvelle\r\nPossède les droits suffisants pour installer la mise à jour\r\nAvant Création WriteLogList\r\nAprès Création WriteLogList\r\nFileCopy effectué\r\nSuccès WritePckname\r\nAvant CreateNewDir\r\nAvant CopyInNewDir\r\nAprès CopyInNewDir\r\nAvant MjaShellLink \r\nAvant AddShellLink \r\nAvant MjaVarnoReg  \r\naprès MjaVarnoReg  \r\nAprès WriteLogList.SaveToFile\r\nAvant l'"'"'enregistrement de Varxxlith.ocx\r\nEnregistrement de Varxxlith.ocx dans C:\\windows\\system32\r\nAprès l'"'"'enregistrement de Varxxlith.ocx\r\nAprès SetUpDateTable\r\nFin contrôlée du programme de mise à jour\r\n'
e2e_check "Version is the package's" test "$(e2e_reg_value "$key" Version)" = 2816090
for row in "Nom:REG_SZ Varnolith" "Port:REG_DWORD 0x1f90" "Actif:REG_DWORD 0x1" \
           "Ratio:REG_BINARY 000000000000E03F" "Debut:REG_BINARY 00000000E021E640" \
           "Quand:REG_BINARY 00000000F021E640" "Heure:REG_BINARY ABAAAAAAAAAAD63F"; do
  name=${row%%:*}
  e2e_check "$name is written as ${row#*:}" test "$(e2e_reg_typed "$key" "$name")" = "${row#*:}"
done

e2e_check "the control is registered from the system directory" test \
  "$(wine reg query 'HKCR\CLSID\{6F1C2A4E-8B3D-4E5F-9A71-2C3D4E5F6A7B}\InprocServer32' /ve 2>/dev/null | tr -d '\r' | awk '/REG_SZ/ {print $3}')" = 'C:\windows\system32\Varxxlith.ocx'
e2e_check "the product's desktop shortcut took the version label" \
  test "$(link_target "$common_desktop\\Varnolith 2.9.lnk")" = "$install\\Varnolith.exe"
e2e_check "the product's group shortcut took the version label" \
  test "$(link_target "$common_group\\Varnolith 2.9.lnk")" = "$install\\Varnolith.exe"
e2e_check "the old names are gone" \
  test ! -e "$(varno_unix_path "$common_desktop")/Varnolith.lnk" -a ! -e "$(varno_unix_path "$common_group")/Varnolith.lnk"
e2e_check "the package's desktop shortcut points into the installation" \
  test "$(link_target "$common_desktop\\Administration.lnk")" = "$install\\AdminVarnolith.exe"
e2e_check "the package's group shortcut points into the installation" \
  test "$(link_target "$common_group\\Lancer Varnolith.lnk")" = "$install\\Varnolith.exe"
e2e_check "the database library brought VarnoInst up to date" test "$(e2e_reg_typed "$key" VarnoInst)" = "REG_DWORD 0xf"

echo "== the same package again"
cp "$record" "$VARNO_WINE_TMP/record-after-first-run"
e2e_install "$samples" "$install" 2816080 app-paths
apply_package
e2e_key "$form" Return
e2e_check "Quitter ends the program" e2e_wait_exit 30
printf '[****]\r\n' | cat "$VARNO_WINE_TMP/record-after-first-run" - >"$VARNO_WINE_TMP/record-expected"
e2e_check "the record gains only a run marker" cmp "$record" "$VARNO_WINE_TMP/record-expected"
e2e_check "the second log says the record was loaded" \
  sh -c "iconv -f CP1252 -t UTF-8 '$unix_install/VarnoMaJLog.txt' | grep -q '^Chargement de WriteLogList effectué'"
e2e_finish
