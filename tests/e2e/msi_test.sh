#!/usr/bin/env bash
# The update as an MSI, installed by Wine's msiexec as a deployment engine would: it applies
# the package it carries and leaves the copy; a package that fails makes the installation
# fail, with the product as before and no copy left; a later update's MSI replaces the first.
# The packages are real-sized (the updater and a 13 MB system library, over 30 MB), and their
# MSIs come from both builds of varno-pack, which must write the same tables.
. "$(dirname "$0")/e2e.sh"
exe=$1
samples=$(dirname "$exe")/samples
exit_code=$4
pack_tool=$5
windows_pack_tool=$6
if [ ! -x "$pack_tool" ]; then
  echo "no host varno-pack at $pack_tool (scripts/build builds it first): skipped"
  exit 77
fi
e2e_begin "$2" "$3"

install='C:\Produits\Varnolith'
unix_install=$(varno_unix_path "$install")
key='HKLM\SOFTWARE\Tolmerik\Varnolith'
entry='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Varnolith'
copies=$(varno_unix_path 'C:\ProgramData\Tolmerik\Varnolith\MSI')
work=$VARNO_WINE_TMP/msi
mkdir -p "$work"

e2e_install "$samples" "$install" 2816080 app-paths
printf 'REGEDIT4\n\n[%s]\n"DisplayName"="Varnolith"\n"DisplayVersion"="2.8"\n"InstallLocation"="%s"\n' \
  'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\Varnolith' 'C:\\Produits\\Varnolith' |
  e2e_reg_import
printf 'ancien' >"$unix_install/a.dll"

big=$WINEPREFIX/drive_c/windows/syswow64/shell32.dll
win_path() { echo "Z:$(echo "$1" | tr / '\\')"; }
# msi NAME VERSION LABEL SECTIONS TOOL: a package with a.dll, b.dll and a real library, and a
# read-me with a long accented name in a folder, wrapped in NAME.msi by the host's or the
# Windows varno-pack.
msi() {
  local dir=$work/$1
  printf 'nouveau %s' "$2" >"$work/a.dll"
  printf 'ajout' >"$work/b.dll"
  e2e_package "$dir" "$exe" "$2" "$4"
  sed -i "21s/.*/$3\r/" "$dir/MjaIni.ini"
  e2e_archive "$dir/sor_ti1.slp" a.dll "$work/a.dll" b.dll "$work/b.dll" shell32.dll "$big"
  mkdir -p "$dir/Notes de version"
  printf 'Version %s' "$2" >"$dir/Notes de version/Lisez-moi très détaillé.txt"
  if [ "$5" = windows ]; then
    wine "$windows_pack_tool" msi "$(win_path "$dir")" -o "$(win_path "$work/$1.msi")" >/dev/null
    wineserver -w
  else
    "$pack_tool" msi "$dir" -o "$work/$1.msi" >/dev/null
  fi
}
tables() {
  local table
  for table in $(msiinfo tables "$1" | sort); do echo "== $table"; msiinfo export "$1" "$table"; done
}
# install NAME: msiexec /i, its whole exit code in CODE.
install() {
  CODE=$(wine "$exit_code" msiexec /i "Z:$(echo "$work/$1.msi" | tr / '\\')" /qn /l*v "Z:$(echo "$work/$1.log" | tr / '\\')" |
    tr -d '\r')
  wineserver -w
}
installation() {
  (cd "$unix_install" && find . -type f ! -name VarnoMaJLog.txt -exec md5sum {} + | sort)
  wine reg query "$key" /reg:32 2>/dev/null | tr -d '\r'
  wine reg query "$entry" /reg:32 2>/dev/null | tr -d '\r'
}

echo "== the first update's MSI (from the host's varno-pack) applies it and keeps the copy"
msi v1 2816090 2.9 "$(printf '[reg]\r\nPort: integer; 8080\r\n')" host
e2e_check "the package is over 30 MB" test "$(du -sb "$work/v1" | cut -f1)" -gt 30000000
install v1
e2e_check "msiexec succeeds (got $CODE)" test "$CODE" = 0
e2e_check "the product file is replaced" test "$(cat "$unix_install/a.dll")" = 'nouveau 2816090'
e2e_check "the large member is installed whole" cmp "$big" "$unix_install/shell32.dll"
e2e_check "the version and the [reg] value are written" \
  test "$(e2e_reg_value "$key" Version) $(e2e_reg_value "$key" Port)" = '2816090 0x1f90'
e2e_check "the record lists the new file" grep -q '^b.dll' "$unix_install/UninstCgg.slt"
e2e_check "Programs and Features shows the label" test "$(e2e_reg_value "$entry" DisplayVersion)" = 2.9
e2e_check "the package copy stays, signature and all as given" \
  diff -r "$work/v1" "$copies/2816090"
e2e_check "the updater's log is beside the copy" grep -q 'Code de sortie : 0' "$copies/2816090.log"
# Wine's event log keeps no events; the source's registration is what it can show.
e2e_check "the event source names the updater as its message file" test \
  "$(wine reg query 'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Varnolith MAJ' /v EventMessageFile |
     tr -d '\r' | awk '$1 == "EventMessageFile" {$1 = $2 = ""; sub(/^ +/, ""); print}')" = \
  'C:\ProgramData\Tolmerik\Varnolith\MSI\2816090\Varnolith_MAJ_Solo.exe'

echo "== a later update's MSI (from varno-pack.exe) replaces the first"
msi v2-host 2816100 3.0 "$(printf '[reg]\r\nPort: integer; 9090\r\n')" host
msi v2 2816100 3.0 "$(printf '[reg]\r\nPort: integer; 9090\r\n')" windows
e2e_check "both builds of varno-pack write the same tables" diff <(tables "$work/v2-host.msi") <(tables "$work/v2.msi")
install v2
e2e_check "msiexec succeeds (got $CODE)" test "$CODE" = 0
e2e_check "the later version is written" test "$(e2e_reg_value "$key" Version)" = 2816100
e2e_check "Programs and Features shows the later label" test "$(e2e_reg_value "$entry" DisplayVersion)" = 3.0
e2e_check "the later copy is there" test -e "$copies/2816100/MjaIni.ini"
e2e_check "the earlier MSI was removed with its copy" test ! -e "$copies/2816090"

echo "== a package that fails: msiexec fails, the product as before, no copy left"
# Last: Wine's rollback of a failed MSI forgets the upgrade code of the product installed
# before it (seen with Wine 8), so a later MSI would no longer find that one to replace.
msi bad 2816110 3.1 "$(printf '[reg]\r\nPort: integer; 9090\r\nActif: bool; peut-etre\r\n')" windows
before=$(installation)
install bad
# Windows Installer says 1603 for a failed custom action; Wine's msiexec says 1627.
e2e_check "msiexec fails (got $CODE)" test "$CODE" = 1603 -o "$CODE" = 1627
e2e_check "the installation is as before" diff <(echo "$before") <(echo "$(installation)")
e2e_check "no copy of the failed package" test ! -e "$copies/2816110"
e2e_check "the installed MSI's copy is still there" test -e "$copies/2816100/MjaIni.ini"
e2e_check "the updater's log says it was taken back" \
  env LC_ALL=C grep -q 'Mise . jour annul.e, installation restaur.e' "$copies/2816110.log"

e2e_finish
