#!/usr/bin/env bash
# Libraries planted in the package directory (the updater's own directory and its current
# directory) under the names of the product's libraries are never loaded into the elevated
# updater: it loads the control and the database library by their full paths in the
# installation and the system directory. A planted library leaves a trace when loaded,
# which a program that loads it by its bare name shows.
. "$(dirname "$0")/e2e.sh"
exe=$1
samples=$(dirname "$exe")/samples
naive_probe=$4
e2e_begin "$2" "$3"
trace=$(varno_unix_path 'C:\planted.txt')

e2e_check "the updater imports no library that is not one of the system's known ones" \
  sh -c "! i686-w64-mingw32-objdump -p '$exe' | grep -i 'DLL Name' | grep -qiv -E 'kernel32|user32|gdi32|advapi32|shell32|ole32|msvcrt'"

e2e_install "$samples" 'C:\Produits\Varnolith' 2816080 app-paths
package=$(varno_unix_path 'C:\Paquet')
e2e_package "$package" "$exe" 2816090
for name in VarnoUpDate.dll Varxxlith.ocx version.dll; do cp "$samples/planted/version.dll" "$package/$name"; done

e2e_start "$package" Varnolith_MAJ_Solo.exe
e2e_key "$(e2e_wait_window '^Confirmation$' 60)" o
form=$(e2e_wait_window 'jour de Varnolith$' 60)
e2e_key "$form" Return
e2e_check "the updater runs to its end" e2e_wait_exit 30
e2e_check "no planted library was loaded" test ! -e "$trace"
e2e_check "the installation's database library ran" \
  test "$(e2e_reg_typed 'HKLM\SOFTWARE\Tolmerik\Varnolith' VarnoInst)" = "REG_DWORD 0xf"
e2e_check "no box but the question" test "$(e2e_box_count)" = 1

# Wine prefers its own version.dll; asked to look beside the program first, as Windows does
# for a library that is not a known one, it loads the planted copy into a program that
# imports version.dll the ordinary way.
cp "$naive_probe" "$package/"
(cd "$package" && WINEDLLOVERRIDES="$WINEDLLOVERRIDES;version=n,b" wine "$(basename "$naive_probe")" >/dev/null 2>&1) || true
e2e_check "a planted library, once loaded, leaves its trace" test -e "$trace"
e2e_finish
