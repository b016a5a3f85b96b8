#!/usr/bin/env bash
# The platform check against the Windows versions Wine can pretend to be, and the refusal of
# an unrecognised one by the real program: its message, exit code 1633, no log.
. "$(dirname "$0")/e2e.sh"
exe=$1
probe=$4
e2e_begin "$2" "$3"

set_version() { wine reg add 'HKCU\Software\Wine' /v Version /d "$1" /f >/dev/null 2>&1; wineserver -w; }

for row in "winxp:2 5.1 36 WINDOWS" "win2003:2 5.2 0 refused" "nt40:2 4.0 34 refused" \
           "win7:2 6.1 41 WINDOWS NT" "win10:2 10.0 44 WINDOWS NT"; do
  version=${row%%:*}
  expected=${row#*:}
  set_version "$version"
  seen=$(wine "$probe" 2>/dev/null | tr -d '\r')
  e2e_check "$version is seen as '$expected' (seen '$seen')" test "$seen" = "$expected"
done

set_version nt40
package=$(varno_unix_path 'C:\Paquet')
mkdir -p "$package"
cp "$exe" "$package/"
printf 'x\r\n2816090\r\n' >"$package/MjaIni.ini"
e2e_start "$package" Varnolith_MAJ_Solo.exe
box=$(e2e_wait_window '^Varnolith_maj_solo$' 60)
e2e_shot platform-refused
e2e_check "the refusal is shown" \
  e2e_box_shown "Syst\\00e8me d'exploitation non reconnu !\\rL'installation est annul\\00e9e."
e2e_key "$box" Return
e2e_check "the program ends with exit code 1633" e2e_wait_exit 30 1633
e2e_check "no log was written" test -z "$(find "$WINEPREFIX/drive_c" -name VarnoMaJLog.txt)"
e2e_finish
