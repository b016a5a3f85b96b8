#!/usr/bin/env bash
# The import check passes the updater, refuses a program that imports what Windows XP SP3
# lacks (naming each import at fault) or a DLL Windows may take from beside the program,
# and does not pass what it cannot read.
#   check_imports_test.sh CHECK UPDATER NEWER_IMPORTS
set -uo pipefail
check=$1 updater=$2 newer=$3
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

out=$(bash "$check" "$updater" 2>&1); status=$?
[ "$status" -eq 0 ] || fail "the updater is refused (status $status): $out"

out=$(bash "$check" "$newer" 2>&1); status=$?
[ "$status" -eq 1 ] || fail "a program importing Vista functions gives status $status, not 1: $out"
grep -qx '  KERNEL32.DLL GetTickCount64' <<<"$out" || fail "GetTickCount64 is not named: $out"
grep -qx '  RSTRTMGR.DLL RmStartSession' <<<"$out" || fail "a DLL XP lacks is not named: $out"
[ "$(grep -c '^  .* ' <<<"$out")" -eq 3 ] || fail "more than GetTickCount64, RmStartSession and RmEndSession refused: $out"
grep -qx '  RSTRTMGR.DLL' <<<"$out" || fail "a DLL that is not a known one is not named: $out"

# A listed name counts for its own DLL only, and an empty list passes nothing.
list=$(mktemp)
trap 'rm -f "$list"' EXIT
printf '# nothing but the kernel\n[kernel32.dll]\nGetTickCount64\n' >"$list"
out=$(bash "$check" --allowed "$list" "$newer" 2>&1); status=$?
[ "$status" -eq 1 ] || fail "a list without RSTRTMGR.DLL passes (status $status): $out"
grep -q 'GetTickCount64' <<<"$out" && fail "a function listed (in lower-case DLL section) is refused: $out"

# A DLL missing from the known ones refuses even a program whose functions XP has.
printf 'KERNEL32.DLL\nMSVCRT.DLL\n' >"$list"
out=$(bash "$check" --known "$list" "$updater" 2>&1); status=$?
[ "$status" -eq 1 ] || fail "the updater passes with only KERNEL32 and MSVCRT known (status $status): $out"
grep -qx '  USER32.DLL' <<<"$out" || fail "USER32.DLL is not named as unknown: $out"
grep -qx '  KERNEL32.DLL' <<<"$out" && fail "a known DLL is named: $out"

out=$(bash "$check" "$check" 2>&1); status=$?
[ "$status" -eq 2 ] || fail "a file that is no program gives status $status, not 2: $out"

[ "$failures" -eq 0 ] && echo "import check: all cases passed"
exit $((failures > 0))
