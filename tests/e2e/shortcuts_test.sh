#!/usr/bin/env bash
# The shortcut steps in a complete run of the real program. The product's shortcuts on both
# desktops and in both "Tolmerik" groups take the package's version label; the shortcuts of
# "[desk]" and "[programs]" are made in the all-users folders, read back through the
# project's own reading of targets, and recorded; the same package applied again makes and
# records nothing new. Arguments: UPDATER TEMPLATE SHOTS LINK_TOOL.
. "$(dirname "$0")/e2e.sh"
exe=$1
link_tool=$4
samples=$(dirname "$exe")/samples
e2e_begin "$2" "$3"
export E2E_LOCALE=fr_FR.UTF-8
# Wine's menu builder would add a .desktop file beside every shortcut saved on a desktop.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"

package=$(varno_unix_path 'C:\Paquet')
install='C:\Produits\Varnolith'
unix_install=$(varno_unix_path "$install")
record="$unix_install/UninstCgg.slt"
user=$(basename "$VARNO_WINE_USER_DIR")
common_desktop='C:\users\Public\Desktop'
user_desktop="C:\\users\\$user\\Desktop"
common_group='C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Tolmerik'
user_group="C:\\users\\$user\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Tolmerik"

link() { wine "$link_tool" "$@" 2>>"$VARNO_WINE_TMP/link-tool.log"; }
# The names in a folder, sorted, on one line.
listing() { (cd "$(varno_unix_path "$1")" && ls | LC_ALL=C sort | paste -sd '|'); }
# target FOLDER NAME: what the project's reading finds in the shortcut.
target_of() { link target "$1\\$2" | tr -d '\r'; }

e2e_install "$samples" "$install" 2816080 app-paths
mkdir -p "$(varno_unix_path "$common_group")" "$(varno_unix_path "$user_group")"
link create "$install\\Varnolith.exe" "$common_desktop\\Varnolith.lnk"
link create 'C:\Autre\autre.exe' "$common_desktop\\Autre.lnk"
link create "$install\\Varnolith.exe" "$user_desktop\\Mon Varnolith.lnk"
link create "$install\\Varnolith.exe" "$common_group\\Varnolith.lnk"
link create "$install\\Varnolith.exe" "$user_group\\Varnolith 2.8.lnk"

sections='[desk]\r\nAdminVarnolith.exe : Administration Varnolith\r\n\r\nVarnolith.exe : Autre nom\r\nAdmin.dll :\r\n[programs]\r\nAdminVarnolith.exe : Administration ; Tolmerik\r\nVarnolith.exe : Varnolith ; Tolmerik\r\nVarnolith.exe : Absent ; Groupe inexistant\r\n'
e2e_package "$package" "$exe" 2816090 "$(printf "$sections")"

apply_package() {
  e2e_start "$package" Varnolith_MAJ_Solo.exe
  e2e_key "$(e2e_wait_window '^Confirmation$' 60)" o
  form=$(e2e_wait_window 'jour de Varnolith$' 60)
  e2e_wait_log "$unix_install/VarnoMaJLog.txt" SetUpDateTable 10
}

check_shortcuts() {
  e2e_check "the all-users desktop: renamed, created, the rest kept" test "$(listing "$common_desktop")" = \
    'Administration Varnolith.lnk|Autre.lnk|Raccourci vers Admin.dll.lnk|Varnolith 2.9.lnk'
  e2e_check "the user's desktop: renamed" test "$(listing "$user_desktop")" = 'Varnolith 2.9.lnk'
  e2e_check "the all-users group: renamed and created" test "$(listing "$common_group")" = \
    'Administration.lnk|Varnolith 2.9.lnk'
  e2e_check "the user's group: renamed" test "$(listing "$user_group")" = 'Varnolith 2.9.lnk'
  e2e_check "no group made for a missing one" \
    test ! -e "$(varno_unix_path 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Groupe inexistant')"
  e2e_check "the renamed shortcuts keep their target" test "$(target_of "$user_group" 'Varnolith 2.9.lnk')" = \
    "$install\\Varnolith.exe"
  e2e_check "the new desktop shortcut points into the installation" \
    test "$(target_of "$common_desktop" 'Administration Varnolith.lnk')" = "$install\\AdminVarnolith.exe"
  e2e_check "the shortcut with the default name too" \
    test "$(target_of "$common_desktop" 'Raccourci vers Admin.dll.lnk')" = "$install\\Admin.dll"
  e2e_check "the new group shortcut too" test "$(target_of "$common_group" 'Administration.lnk')" = \
    "$install\\AdminVarnolith.exe"
}

echo "== first run"
apply_package
e2e_shot shortcuts-complete-run
e2e_check "the shortcuts label shows" test "$(e2e_dark_pixels "$form" 16 70 140 13)" -gt 40
e2e_key "$form" Return
e2e_check "Quitter ends the program" e2e_wait_exit 30
e2e_check "no box but the question" test "$(e2e_box_count)" = 1
check_shortcuts
e2e_check "the record names the shortcuts made, newest first" e2e_log_is "$record" \
  '[SurFile]\r\n[SurDeskLink]\r\nRaccourci vers Admin.dll\r\nAdministration Varnolith\r\n[SurProgramsLink]\r\nAdministration\r\n[****]\r\n'
e2e_check "the log has both shortcut steps in their place" test "$(iconv -f CP1252 -t UTF-8 "$unix_install/VarnoMaJLog.txt" |
  tr -d '\r' | grep -E '^(Après CopyInNewDir|Avant MjaShellLink |Avant AddShellLink |Avant MjaVarnoReg  )$' | paste -sd '|')" = \
  'Après CopyInNewDir|Avant MjaShellLink |Avant AddShellLink |Avant MjaVarnoReg  '

echo "== the same package again"
cp "$record" "$VARNO_WINE_TMP/record-after-first-run"
e2e_install "$samples" "$install" 2816080 app-paths
apply_package
e2e_key "$form" Return
e2e_check "Quitter ends the program" e2e_wait_exit 30
check_shortcuts
printf '[****]\r\n' | cat "$VARNO_WINE_TMP/record-after-first-run" - >"$VARNO_WINE_TMP/record-expected"
e2e_check "the record gains only a run marker" cmp "$record" "$VARNO_WINE_TMP/record-expected"
e2e_finish
