#!/usr/bin/env bash
# A long update under Wine: while a large member unpacks, the window answers another
# program within a tenth of a second and its progress bar grows; the close box answered Non lets the
# update complete, answered Oui takes it back and ends the program.
#   progress_window_test.sh UPDATER TEMPLATE SHOTS PROBE
# VARNO_LARGE_MEMBER_MB sets the large member's size (2000 by default: large enough to be
# still unpacking once the screenshot is taken and the close key sent, at the speed the
# updater writes under Wine on a quiet machine, over a gigabyte a second into the cache).
. "$(dirname "$0")/e2e.sh"
exe=$1
probe=$4
samples=$(dirname "$exe")/samples
large_mb=${VARNO_LARGE_MEMBER_MB:-2000}
e2e_begin "$2" "$3"

install='C:\Produits\Varnolith'
unix_install=$(varno_unix_path "$install")
package=$(varno_unix_path 'C:\Paquet')
e2e_install "$samples" "$install" 2816080 app-paths
printf '[SurFile]\r\nancien.dll\r\n[****]\r\n' >"$unix_install/UninstCgg.slt"
printf 'contenu precedent' >"$unix_install/data.bin"
mkdir -p "$unix_install/Images"
cp -r "$unix_install" "$VARNO_WINE_TMP/install-before"
e2e_package "$package" "$exe" 2816090 $'[insubdir]\r\nImages : pics.slp\r\n'
truncate -s "${large_mb}M" "$VARNO_WINE_TMP/data.bin"
printf 'apres' >"$VARNO_WINE_TMP/after.txt"
head -c 3000000 /dev/urandom >"$VARNO_WINE_TMP/logo.bmp"
e2e_archive "$package/sor_ti1.slp" data.bin "$VARNO_WINE_TMP/data.bin" after.txt "$VARNO_WINE_TMP/after.txt"
e2e_archive "$package/pics.slp" logo.bmp "$VARNO_WINE_TMP/logo.bmp"
cp "$probe" "$VARNO_WINE_TMP/probe.exe"

# wait_large_member_written SIZE: the large member's temporary file holds more than SIZE
# (find's units: 1M, 50M).
wait_large_member_written() {
  local i
  for i in $(seq 1500); do
    [ -n "$(find "$unix_install" -maxdepth 1 -iname 'vrn*.tmp' -size "+$1" 2>/dev/null | head -n 1)" ] && return 0
    sleep 0.02
  done
  return 1
}

# bar_fill_pixels WINDOW: the pixels of the working screenshot, where the bar is, that the
# bar's (highlight-coloured) fill covers.
bar_fill_pixels() {
  local left top
  read -r left top < <(e2e_window_origin "$1")
  convert "$E2E_SHOTS/progress-working.png" -crop "206x17+$((left + 16))+$((top + 150))" +repage \
    -fx 'b - r > 0.25 ? 1 : 0' -format '%[fx:round(mean*w*h)]' info:
}

# same_installation: every file as before the runs (the run log and the journal aside).
same_installation() {
  diff -r -x VarnoMaJLog.txt "$VARNO_WINE_TMP/install-before" "$unix_install"
}

echo "== closed and answered Non, watched from another program"
e2e_start "$package" Varnolith_MAJ_Solo.exe
e2e_key "$(e2e_wait_window '^Confirmation$' 60)" o
(wine "$VARNO_WINE_TMP/probe.exe" 300 20 >"$VARNO_WINE_TMP/probe.out" 2>/dev/null) &
probe_pid=$!
form=$(e2e_wait_window 'jour de Varnolith$' 60)
e2e_check "the large member is being written" wait_large_member_written 200M
# Taken at once (e2e_shot waits half a second first, which is most of what is left of the
# large member's write on a quiet machine); the bar has moved for a while already.
import -window root "$E2E_SHOTS/progress-working.png"
echo "close box used at $(date +%s.%N)"
e2e_key "$form" alt+F4
bar_pixels=$(bar_fill_pixels "$form")
echo "filled bar pixels on the screenshot: $bar_pixels"
e2e_check "the screenshot shows the bar" test "$bar_pixels" -gt 20
box=$(e2e_wait_window '^Confirmation$' 30)
echo "its box shown at $(date +%s.%N)"
e2e_key "$box" n
answered=$(date +%s.%N)
echo "answered Non at $answered"
e2e_wait_log "$unix_install/VarnoMaJLog.txt" SetUpDateTable 120
wait "$probe_pid" || true
cat "$VARNO_WINE_TMP/probe.out"
# Wine without a window manager waits up to two seconds for the box's X window to go when
# the box closes (inside MessageBoxA, on the updater's thread); that pause is not the updater's.
e2e_check "the window answered every message within a tenth of a second and its bar grew" \
  awk -v box="$answered" '
    $1 == "slow:" && $2 >= 100 { start = $7 - $2 / 1000; if (start < box - 0.2 || start > box + 2.0) late = 1 }
    $1 == "samples" && $2 >= 3 && $14 > 0 { grew = 1 }
    END { exit !(grew && !late) }' "$VARNO_WINE_TMP/probe.out"
e2e_check "the interruption was asked" e2e_box_shown 'Voulez-vous interrompre la mise \00e0 jour ?'
e2e_shot progress-finished
e2e_key "$form" Return
e2e_check "Non: the update completes and Quitter ends it" e2e_wait_exit 60
e2e_check "Non: the large member is whole" cmp "$unix_install/data.bin" "$VARNO_WINE_TMP/data.bin"
e2e_check "Non: the sub-directory's archive is unpacked" cmp "$unix_install/Images/logo.bmp" "$VARNO_WINE_TMP/logo.bmp"

echo "== closed and answered Oui"
rm -rf "$unix_install"
cp -r "$VARNO_WINE_TMP/install-before" "$unix_install"
printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Tolmerik\\Varnolith]\n"Version"="2816080"\n' | e2e_reg_import
e2e_start "$package" Varnolith_MAJ_Solo.exe
e2e_key "$(e2e_wait_window '^Confirmation$' 60)" o
form=$(e2e_wait_window 'jour de Varnolith$' 60)
e2e_check "the large member is being written" wait_large_member_written 1M
e2e_key "$form" alt+F4
e2e_key "$(e2e_wait_window '^Confirmation$' 30)" o
e2e_check "Oui: the program ends by itself" e2e_wait_exit 60 1602
e2e_check "Oui: the installation is as before" same_installation
e2e_check "Oui: the registered version is unchanged" test "$(e2e_reg_value 'HKLM\Software\Tolmerik\Varnolith' Version)" = 2816080
e2e_check "Oui: no error box" sh -c "! grep -q 'MSGBOX_OnInit L\"Impossible' '$VARNO_WINE_TMP/stderr'"
e2e_check "Oui: the run log says it was taken back" \
  sh -c "iconv -f CP1252 -t UTF-8 '$unix_install/VarnoMaJLog.txt' | grep -q 'Mise à jour annulée, installation restaurée'"
e2e_finish
