#!/usr/bin/env bash
# The real updater under Wine unpacking many small files, against `cp -r` and `sync` of the
# same tree on the same disk, and against the floor: a minimal Windows program that does only
# what an all-or-nothing update cannot avoid (small_files_floor.cpp). Two trees in one run:
# 2,000 files of 8 KiB in 16 sub-directories, then 20,000 files of 4 KiB in 157 (an archive
# holds at most 128 members: one archive a sub-directory). Run by hand on a quiet machine,
# after `bash scripts/build`:
#   bash bench/wine_many_files_bench.sh [BUILD_DIR] [--rounds N] [--only 2000|20000]
# Defaults: build/win32, 5 rounds. The files are cut from real text of this machine (Debian's
# documentation, Perl and Python sources), as compressible as help pages; the archives are
# stored (varno-pack create --no-compress), so the comparison is with a plain copy. Every
# round checks that the installation holds the tree byte for byte. VARNO_BENCH_WRAP runs the
# updater through a command (VARNO_BENCH_WRAP="strace -f -c -o /tmp/calls.txt").
set -euo pipefail
build=build/win32
rounds=5 only=
while [ $# -gt 0 ]; do
  case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    *) build=$1; shift ;;
  esac
done
build=$(realpath "$build")
root=$(realpath "$(dirname "$0")/..")
exe=$build/Varnolith_MAJ_Solo.exe
pack=$root/build/host/varno-pack
[ -x "$exe" ] || { echo "no updater at $exe: run bash scripts/build first"; exit 2; }
[ -x "$pack" ] || { echo "no varno-pack at $pack: build the host build first"; exit 2; }
. "$root/tests/e2e/e2e.sh"
trap varno_wine_end EXIT
varno_wine_begin "$build/wine-template"
wineserver -p  # one server for every run, so that each run's fixed cost stays the same

floor=$VARNO_WINE_TMP/small_files_floor.exe
i686-w64-mingw32-g++-win32 -std=c++17 -O2 -static -o "$floor" "$root/bench/small_files_floor.cpp"

install='C:\Produits\Varnolith'
unix_install=$(varno_unix_path "$install")
empty_package=$(varno_unix_path 'C:\PaquetVide')
copy=$(varno_unix_path 'C:\Copie')
floor_out='C:\Plancher'
unix_floor_out=$(varno_unix_path "$floor_out")

seconds() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.3f\", $1 }"; }

# Real text: every file of these trees that is not compressed, in a fixed order, again and
# again until there is enough.
pool() {
  while :; do
    find /usr/share/doc /usr/share/perl /usr/lib/python3.11 /usr/include -type f ! -name '*.gz' ! -name '*.pyc' \
      -print0 2>/dev/null | LC_ALL=C sort -z | xargs -0 cat 2>/dev/null || break
  done
}

# make_tree DIR FILES SIZE DIRS: FILES files of SIZE bytes spread over DIRS sub-directories
# D001..., cut from the pool in turn; prints nothing.
make_tree() {
  local dir=$1 files=$2 size=$3 dirs=$4 k count offset=0
  mkdir -p "$dir"
  pool 2>/dev/null | head -c $((files * size)) >"$VARNO_WINE_TMP/pool" || true
  for k in $(seq 1 "$dirs"); do
    count=$((files / dirs + (k <= files % dirs ? 1 : 0)))
    mkdir -p "$dir/$(printf 'D%03d' "$k")"
    dd if="$VARNO_WINE_TMP/pool" iflag=skip_bytes,count_bytes skip="$offset" count=$((count * size)) status=none |
      (cd "$dir/$(printf 'D%03d' "$k")" && split -b "$size" -d -a 3 --additional-suffix=.txt - page)
    offset=$((offset + count * size))
  done
  rm -f "$VARNO_WINE_TMP/pool"
}

# make_package DIR TREE: a package whose description makes each sub-directory of the tree
# and unpacks its archive into it.
make_package() {
  local dir=$1 tree=$2 sub sections='[subdir]\r\n'
  mkdir -p "$dir"
  for sub in $(ls "$tree"); do sections+="$sub\\r\\n"; done
  sections+='[insubdir]\r\n'
  for sub in $(ls "$tree"); do
    sections+="$sub : ${sub,,}.slp\\r\\n"
    (cd "$tree/$sub" && "$pack" create "$dir/${sub,,}.slp" --no-compress -q $(ls)) >/dev/null
  done
  e2e_package "$dir" "$exe" 2816090 "$(printf "$sections")"
}

# The same run with a one-byte archive and nothing else: what a run costs besides the files.
printf 'x' >"$VARNO_WINE_TMP/tiny.bin"
e2e_package "$empty_package" "$exe" 2816090
e2e_archive "$empty_package/sor_ti1.slp" member0.bin "$VARNO_WINE_TMP/tiny.bin"
mkdir -p "$(varno_unix_path 'C:\ArbreVide')"

# As wine_unpack_bench.sh: on a virtual machine that hands freed memory back to its host,
# each contender starts right after as much memory as it will write was touched and freed.
warm_memory() {
  dd if=/dev/zero of="$VARNO_WINE_TMP/warm" bs=1M count=$(($1 + 64)) status=none
  rm -f "$VARNO_WINE_TMP/warm"
}
fresh_installation() {
  rm -rf "$unix_install" "$copy" "$unix_floor_out"
  e2e_install "$build/samples" "$install" 2816080 app-paths
  cat "$1"/*.slp >/dev/null
  sync
  warm_memory "$2"
}
# run PACKAGE MIB: a quiet update into a fresh installation; prints seconds.
run() {
  fresh_installation "$1" "$2"
  local start status=0
  start=$(seconds)
  (cd "$1" && ${VARNO_BENCH_WRAP:-} wine Varnolith_MAJ_Solo.exe /quiet >/dev/null 2>&1) || status=$?
  calc "$(seconds) - $start"
  [ "$status" -eq 0 ] || { echo "the quiet run ended with $status" >&2; return 1; }
}
# run_floor WINDOWS_TREE MIB: the floor program putting the tree in place; prints seconds.
run_floor() {
  rm -rf "$unix_floor_out"
  find "$(varno_unix_path "$1")" -type f -exec cat {} + >/dev/null
  sync
  warm_memory "$2"
  local start status=0
  start=$(seconds)
  wine "$floor" "$1" "$floor_out" >/dev/null 2>&1 || status=$?
  calc "$(seconds) - $start"
  [ "$status" -eq 0 ] || { echo "the floor program ended with $status" >&2; return 1; }
}
# copy_and_sync TREE MIB: cp -r of the tree, then sync of the file system it is on.
copy_and_sync() {
  rm -rf "$copy"
  find "$1" -type f -exec cat {} + >/dev/null
  sync
  warm_memory "$2"
  local start
  start=$(seconds)
  cp -r "$1" "$copy"
  sync -f "$copy"
  calc "$(seconds) - $start"
}
byte_exact() {
  local sub
  for sub in $(ls "$1"); do
    diff -rq "$1/$sub" "$unix_install/$sub" >/dev/null || { echo "the update did not leave $sub as in the package" >&2; exit 1; }
  done
}
# best_median FILE: the smallest and the median of the numbers in the file.
best_median() { printf 'best x%.2f, median x%.2f' "$(sort -n "$1" | head -n1)" "$(sort -n "$1" | sed -n "$(( (rounds + 1) / 2 ))p")"; }
median() { sort -n "$1" | sed -n "$(( (rounds + 1) / 2 ))p"; }

# bench FILES SIZE DIRS TARGET
bench() {
  local files=$1 size=$2 dirs=$3 target=$4
  local tree package
  tree=$(varno_unix_path "C:\\Arbre$files")
  package=$(varno_unix_path "C:\\Paquet$files")
  local mib=$(( files * size / 1048576 + 1 ))
  make_tree "$tree" "$files" "$size" "$dirs"
  make_package "$package" "$tree"
  echo
  echo "$files files of $size bytes in $dirs sub-directories ($(du -sb "$tree" | cut -f1) bytes, gzip -6 of them $(find "$tree" -type f -exec cat {} + | gzip -6 | wc -c) bytes):"
  : >"$VARNO_WINE_TMP/ratios"; : >"$VARNO_WINE_TMP/floor-ratios"; : >"$VARNO_WINE_TMP/vs-floor"
  : >"$VARNO_WINE_TMP/nets"; : >"$VARNO_WINE_TMP/copies"; : >"$VARNO_WINE_TMP/floors"
  local round full fixed net copied floor_full floor_fixed floor_net
  for round in $(seq "$rounds"); do
    full=$(run "$package" "$mib")
    byte_exact "$tree"
    fixed=$(run "$empty_package" 1)
    floor_full=$(run_floor "C:\\Arbre$files" "$mib")
    floor_fixed=$(run_floor 'C:\ArbreVide' 1)
    copied=$(copy_and_sync "$tree" "$mib")
    net=$(calc "$full - $fixed")
    floor_net=$(calc "$floor_full - $floor_fixed")
    echo "$net" >>"$VARNO_WINE_TMP/nets"; echo "$copied" >>"$VARNO_WINE_TMP/copies"; echo "$floor_net" >>"$VARNO_WINE_TMP/floors"
    echo "$(calc "$net / $copied")" >>"$VARNO_WINE_TMP/ratios"
    echo "$(calc "$floor_net / $copied")" >>"$VARNO_WINE_TMP/floor-ratios"
    echo "$(calc "$net / $floor_net")" >>"$VARNO_WINE_TMP/vs-floor"
    printf 'round %d: updater %.2f s - %.2f s (one-byte package) = %.2f s; floor %.2f s - %.2f s = %.2f s; cp -r + sync %.2f s; load %s\n' \
      "$round" "$full" "$fixed" "$net" "$floor_full" "$floor_fixed" "$floor_net" "$copied" "$(cut -d' ' -f1 /proc/loadavg)"
    printf '  updater / (cp -r + sync) x%.2f, floor / (cp -r + sync) x%.2f, updater / floor x%.2f\n' \
      "$(calc "$net / $copied")" "$(calc "$floor_net / $copied")" "$(calc "$net / $floor_net")"
  done
  local floor_median target_now
  floor_median=$(median "$VARNO_WINE_TMP/floor-ratios")
  target_now=$(awk "BEGIN { t = $target; f = 1.25 * $floor_median; printf \"%.2f\", (f > t ? f : t) }")
  echo "medians: updater $(median "$VARNO_WINE_TMP/nets") s, floor $(median "$VARNO_WINE_TMP/floors") s, cp -r + sync $(median "$VARNO_WINE_TMP/copies") s"
  echo "updater / (cp -r + sync): $(best_median "$VARNO_WINE_TMP/ratios") (target x$target_now: x$target, or 1.25 x the floor when the floor is above it)"
  echo "floor / (cp -r + sync): $(best_median "$VARNO_WINE_TMP/floor-ratios"); updater / floor: $(best_median "$VARNO_WINE_TMP/vs-floor")"
  rm -rf "$tree" "$package"
}

[ "$only" = 20000 ] || bench 2000 8192 16 1.5
[ "$only" = 2000 ] || bench 20000 4096 157 2
