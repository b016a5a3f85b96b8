#!/usr/bin/env bash
# A vendor's updater, built with its public key, under Wine: it imports only the system's
# known DLLs, and a CRYPT32.DLL planted beside it is never loaded; a signed package applies
# and its files cannot be written while the run holds them; an archive dropped in while the
# question waits is not unpacked; a package with a changed description, archive or
# companion program, one without its signature file and one signed with another key are
# refused with nothing changed. The key-bound updater and its key pair are made by the build
# (tests/e2e/CMakeLists.txt) in the build directory, the other vendor's key here on every
# run; none is ever kept in the sources.
# The signature file is written with the openssl command and sha256sum, apart from the
# project's own writer, so the format is checked as its description states it.
. "$(dirname "$0")/e2e.sh"
source_dir=$1 signed_exe=$2 vendor_keys=$3 exe=$4
samples=$(dirname "$exe")/samples
e2e_begin "$5" "$6"

keys=$VARNO_WINE_TMP/keys
mkdir -p "$keys"
cp "$vendor_keys/vendor.pem" "$vendor_keys/vendor.pub.pem" "$keys/"
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:3072 -out "$keys/other.pem" 2>/dev/null
e2e_check "the key-bound updater imports only DLLs Windows takes from its system directory" \
  bash "$source_dir/scripts/check-imports" "$signed_exe"

# sign DIR FILE...: MjaIni.sig listing the files, signed with the vendor's key (or with
# $signing_key when set).
sign() {
  local dir=$1 name
  shift
  {
    printf 'VARNO-PACKAGE-SIGNATURE 1\n'
    for name in "$@"; do
      printf 'file %s %s %s\n' "$(stat -c %s "$dir/$name")" "$(sha256sum "$dir/$name" | cut -c1-64)" "$name"
    done
  } >"$VARNO_WINE_TMP/manifest"
  {
    cat "$VARNO_WINE_TMP/manifest"
    printf 'signature rsa-pkcs1-sha256 %s\n' \
      "$(openssl dgst -sha256 -sign "${signing_key:-$keys/vendor.pem}" "$VARNO_WINE_TMP/manifest" | xxd -p | tr -d '\n')"
  } >"$dir/MjaIni.sig"
}

package=$(varno_unix_path 'C:\Paquet')
install='C:\Produits\Varnolith'
install_unix=$(varno_unix_path "$install")
desktop_log="$VARNO_WINE_USER_DIR/Desktop/VarnoMaJLog.txt"
refused_box='Le paquet de mise \00e0 jour n'"'"'est pas sign\00e9 ou a \00e9t\00e9 modifi\00e9.'
refused_log() { printf 'Mise à jour Varnolith\\r\\nCurrentDir =C:\\\\Paquet\\r\\nPaquet refusé : %s\\r\\nFin contrôlée du programme de mise à jour\\r\\n' "$1"; }
run() { e2e_start "$package" Varnolith_MAJ_Solo.exe; }

# The code the run loads as administrator, as the package brings it: a key-bound updater
# trusts an installed control or database library only when administrators alone can have
# written it, which Wine never shows (every file is its one user's), so packages carry both.
code=(Varxxlith.ocx "$samples/Varxxlith.ocx" VarnoUpDate.dll "$samples/VarnoUpDate.dll")

# A package of the version given whose main archive brings NAME with CONTENT, then the
# members given after them (NAME FILE pairs; the product's code when none are).
make_package() {
  local version=$1 name=$2 content=$3
  shift 3
  [ $# -gt 0 ] || set -- "${code[@]}"
  rm -rf "$package"
  e2e_package "$package" "$signed_exe" "$version"
  printf '%s' "$content" >"$VARNO_WINE_TMP/member"
  e2e_archive "$package/sor_ti1.slp" "$name" "$VARNO_WINE_TMP/member" "$@"
  sign "$package" MjaIni.ini sor_ti1.slp
}

echo "== a signed package applies, its files held against writers while the program runs"
e2e_install "$samples" "$install" 2816080 app-paths
make_package 2816090 Signe.txt 'signed by the vendor'
# Asked to look beside the program first, as Windows does for a library that is not a
# known one, Wine would load this copy into a program that imports CRYPT32.
trace=$(varno_unix_path 'C:\planted.txt')
rm -f "$trace"
cp "$samples/planted/version.dll" "$package/crypt32.dll"
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;crypt32=n,b" run
e2e_key "$(e2e_wait_window '^Confirmation$' 60)" o
form=$(e2e_wait_window 'jour de Varnolith$' 60)
e2e_wait_log "$install_unix/VarnoMaJLog.txt" SetUpDateTable 10
e2e_shot signed-package-applied
e2e_check "the member was unpacked" test "$(cat "$install_unix/Signe.txt" 2>/dev/null)" = 'signed by the vendor'
e2e_check "the verification is logged" \
  sh -c "iconv -f CP1252 -t UTF-8 '$install_unix/VarnoMaJLog.txt' | grep -q '^Paquet signé vérifié'"
signed_archive=$(sha256sum <"$package/sor_ti1.slp")
wine cmd /c 'echo x>>C:\Paquet\sor_ti1.slp' >/dev/null 2>&1 || true
wine cmd /c 'ren C:\Paquet\MjaIni.ini autre.ini' >/dev/null 2>&1 || true
e2e_check "the archive cannot be written while the program holds it" \
  test "$(sha256sum <"$package/sor_ti1.slp")" = "$signed_archive"
e2e_check "nor the description renamed" test -e "$package/MjaIni.ini" -a ! -e "$package/autre.ini"
e2e_key "$form" Return
e2e_check "Quitter ends the program" e2e_wait_exit 30
e2e_check "the version is recorded" test "$(e2e_reg_value 'HKLM\Software\Tolmerik\Varnolith' Version)" = 2816090
e2e_check "the CRYPT32.DLL planted beside the program was never loaded" test ! -e "$trace"
wine cmd /c 'echo x>>C:\Paquet\sor_ti1.slp' >/dev/null 2>&1 || true
e2e_check "once the program ended, the archive can be written again" \
  test "$(sha256sum <"$package/sor_ti1.slp")" != "$signed_archive"

echo "== an archive dropped into the package while the question waits"
e2e_install "$samples" "$install" 2816080 app-paths
rm -rf "$package"
e2e_package "$package" "$signed_exe" 2816094 $'[subdir]\r\nPlus\r\n[insubdir]\r\nPlus: pose.slp\r\n'
e2e_archive "$package/sor_ti1.slp" "${code[@]}"
sign "$package" MjaIni.ini sor_ti1.slp
run
question=$(e2e_wait_window '^Confirmation$' 60)
printf 'dropped in later' >"$VARNO_WINE_TMP/member"
e2e_archive "$package/pose.slp" Pose.txt "$VARNO_WINE_TMP/member"
e2e_key "$question" o
form=$(e2e_wait_window 'jour de Varnolith$' 60)
e2e_wait_log "$install_unix/VarnoMaJLog.txt" SetUpDateTable 10
e2e_key "$form" Return
e2e_check "the run ends" e2e_wait_exit 30
e2e_check "the version is recorded" test "$(e2e_reg_value 'HKLM\Software\Tolmerik\Varnolith' Version)" = 2816094
e2e_check "the archive absent when the package was checked was not unpacked" test ! -e "$install_unix/Plus/Pose.txt"

# The code a key-bound updater would load as administrator, in an installation that others
# may write (Unix mode o+w, which Wine shows as Everyone's write access).
system_control="$WINEPREFIX/drive_c/windows/syswow64/Varxxlith.ocx"
planted_code() {
  rm -f "$trace" "$desktop_log"
  chmod -R o+w "$install_unix"
  run
  e2e_key "$(e2e_wait_window '^Confirmation$' 60)" o
}
# refused_code NAME: the run ends in the error box naming NAME, 1603, nothing loaded and
# the installation as it was.
refused_code() {
  local box
  box=$(e2e_wait_window '^Varnolith_maj_solo$' 60)
  e2e_check "the error box names $1" sh -c "grep -a 'MSGBOX_OnInit' '$VARNO_WINE_TMP/stderr' | grep -q '$1'"
  e2e_key "$box" Return
  e2e_key "$(e2e_wait_window 'jour de Varnolith$' 30)" alt+F4
  e2e_check "the run fails (1603)" e2e_wait_exit 30 1603
  e2e_check "nothing planted was loaded" test ! -e "$trace"
  e2e_check "the version is unchanged" test "$(e2e_reg_value 'HKLM\Software\Tolmerik\Varnolith' Version)" = 2816080
}

echo "== a control swapped in, again and again, while a signed update unpacks its own"
e2e_install "$samples" "$install" 2816080 app-paths
make_package 2816096 Signe.txt 'signed by the vendor'
cp "$samples/planted/version.dll" "$VARNO_WINE_TMP/planted.dll"
planted_code
# A rename of a new file each time, as a user's program replacing it would; the run's hold
# refuses Windows programs, not this host's.
( while kill -0 "$E2E_PID" 2>/dev/null; do
    cp "$VARNO_WINE_TMP/planted.dll" "$install_unix/swap.tmp" && mv -f "$install_unix/swap.tmp" "$install_unix/Varxxlith.ocx"
  done ) 2>/dev/null &
swapper=$!
e2e_wait_log "$install_unix/VarnoMaJLog.txt" "enregistrement de Varxxlith.ocx" 60
# Refused (the swap came first, as it nearly always does) or registered from the bytes the
# run wrote: either way the box, if any, then the window, are closed, again each second
# until the program ends (taking the change back while the control keeps being swapped can
# outlast a close asked while it works, which the program leaves for its next turn).
for i in $(seq 60); do
  sleep 1
  kill -0 "$E2E_PID" 2>/dev/null || break
  for name in '^Varnolith_maj_solo$' '^Confirmation$' 'jour de Varnolith$'; do
    for window in $(xdotool search --onlyvisible --name "$name" 2>/dev/null); do
      e2e_key "$window" "$([ "$name" = 'jour de Varnolith$' ] && echo alt+F4 || echo Return)"
    done
  done
done
e2e_check "the program ends once closed" sh -c "! kill -0 $E2E_PID 2>/dev/null"
kill "$E2E_PID" 2>/dev/null || true
wait "$E2E_PID" 2>/dev/null || true
E2E_PID=
wait "$swapper" 2>/dev/null || true
e2e_check "the swapped control was never loaded" test ! -e "$trace"
e2e_check "nor copied into the system directory" \
  sh -c "[ ! -e '$system_control' ] || ! cmp -s '$system_control' '$VARNO_WINE_TMP/planted.dll'"

echo "== a control planted before a package that brings none"
e2e_install "$samples" "$install" 2816080 app-paths
make_package 2816097 Signe.txt 'signed by the vendor' VarnoUpDate.dll "$samples/VarnoUpDate.dll"
cp "$samples/planted/version.dll" "$install_unix/Varxxlith.ocx"
planted_code
refused_code 'Varxxlith.ocx ne vient pas du paquet sign'

echo "== a database library planted before a package that brings none"
e2e_install "$samples" "$install" 2816080 app-paths
make_package 2816098 Signe.txt 'signed by the vendor' Varxxlith.ocx "$samples/Varxxlith.ocx"
cp "$samples/planted/version.dll" "$install_unix/VarnoUpDate.dll"
# The library runs only while the database is not up to date, which an earlier run made it.
printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Tolmerik\\Varnolith]\n"VarnoInst"=-\n' | e2e_reg_import
planted_code
refused_code 'VarnoUpDate.dll ne vient pas du paquet sign'
e2e_check "the control the run had registered is the installation's again" \
  cmp -s "$install_unix/Varxxlith.ocx" "$samples/Varxxlith.ocx"

# A package with each kind of file the run reads, one byte of NAME changed after signing.
changed_package() {
  rm -rf "$package"
  e2e_package "$package" "$signed_exe" 2816095 $'[insubdir]\r\nAide: aide.slp\r\n'
  printf 'help' >"$VARNO_WINE_TMP/member"
  e2e_archive "$package/sor_ti1.slp" Base.txt "$VARNO_WINE_TMP/member"
  e2e_archive "$package/aide.slp" Aide.txt "$VARNO_WINE_TMP/member"
  cp "$samples/Action.exe" "$package/"
  sign "$package" MjaIni.ini sor_ti1.slp aide.slp Action.exe
  printf 'X' | dd of="$package/$1" bs=1 seek=2 conv=notrunc status=none
}
# run_refused LOGGED MEMBER: a run that the gate refuses: the box, 1620, the log line
# naming the file at fault, and the member not unpacked.
run_refused() {
  rm -f "$desktop_log"
  run
  box=$(e2e_wait_window '^Varnolith_maj_solo$' 60)
  e2e_check "the refusal is shown" e2e_box_shown "$refused_box"
  e2e_key "$box" Return
  e2e_check "the program ends after the message (1620)" e2e_wait_exit 30 1620
  e2e_check "the log names ${1%% *}" e2e_log_is "$desktop_log" "$(refused_log "$1")"
  e2e_check "nothing was unpacked" test ! -e "$install_unix/$2"
}
for name in MjaIni.ini aide.slp Action.exe; do
  echo "== one changed byte in $name"
  e2e_install "$samples" "$install" 2816080 app-paths
  changed_package "$name"
  run_refused "$name (contenu modifié)" Base.txt
done

echo "== one changed byte in the archive"
e2e_install "$samples" "$install" 2816080 app-paths
make_package 2816091 Change.txt 'signed by the vendor'
sed -i 's/signed by/signed bY/' "$package/sor_ti1.slp"
run_refused 'sor_ti1.slp (contenu modifié)' Change.txt
e2e_check "only that box was shown, no question" test "$(e2e_box_count)" = 1
e2e_check "the version is unchanged" test "$(e2e_reg_value 'HKLM\Software\Tolmerik\Varnolith' Version)" = 2816080

echo "== no MjaIni.sig"
make_package 2816092 Absent.txt 'never applied'
rm "$package/MjaIni.sig"
rm -f "$desktop_log"
run
box=$(e2e_wait_window '^Varnolith_maj_solo$' 60)
e2e_check "the refusal is shown" e2e_box_shown "$refused_box"
e2e_key "$box" Return
e2e_check "the program ends after the message (1620)" e2e_wait_exit 30 1620
e2e_check "the log names the missing signature" e2e_log_is "$desktop_log" "$(refused_log 'MjaIni.sig (signature absente)')"
e2e_check "nothing was unpacked" test ! -e "$install_unix/Absent.txt"
e2e_check "the version is unchanged" test "$(e2e_reg_value 'HKLM\Software\Tolmerik\Varnolith' Version)" = 2816080

echo "== signed with another key"
signing_key=$keys/other.pem make_package 2816093 Autre.txt 'another vendor'
rm -f "$desktop_log"
run
box=$(e2e_wait_window '^Varnolith_maj_solo$' 60)
e2e_check "the refusal is shown" e2e_box_shown "$refused_box"
e2e_key "$box" Return
e2e_check "the program ends after the message (1620)" e2e_wait_exit 30 1620
e2e_check "the log names the signature" e2e_log_is "$desktop_log" "$(refused_log 'MjaIni.sig (signature non valide)')"
e2e_check "nothing was unpacked" test ! -e "$install_unix/Autre.txt"

e2e_finish
