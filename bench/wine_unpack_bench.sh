#!/usr/bin/env bash
# The real updater under Wine unpacking a large package into an installation, quiet and with
# its window shown in a virtual display, against `cp` and `sync` of the same files on the
# same disk, side by side in each round. Run by hand on a quiet machine, after
# `bash scripts/build`:
#   bash bench/wine_unpack_bench.sh [BUILD_DIR] [--mib N] [--members N] [--rounds N] [--compressed | --delta | --real-programs]
# Defaults: build/win32, 1024 MiB in 100 members, 5 rounds. With --compressed, the members
# are real Windows libraries and objects (the MinGW sysroot's, repeated as needed), packed by
# build/host/varno-pack into a compressed archive, and the contender is `gzip -dc` of the
# same members (gzip -6) into files, then `sync`. With --delta, the installation holds the
# members as a previous release and the package, built by build/host/varno-pack --since,
# carries each as a delta to a new release that differs in 64 places of 16 bytes; the
# contender is `cp` + `sync` of the new release's files. --real-programs is --delta on real
# programs instead of random bytes: the files two Debian builds of python3.11 and of systemd
# changed (over 64 KiB), from the cache bench/real_delta_bench.sh fills (run it first),
# which take the x86 branch filter. The data lives in a private
# Wine prefix under ${TMPDIR:-/tmp} (about three times the package's size while it runs) and
# is removed again. VARNO_BENCH_WRAP runs the updater through a command, for a look inside
# (VARNO_BENCH_WRAP="strace -f -c -o /tmp/calls.txt").
set -euo pipefail
build=build/win32
mib=1024 members=100 rounds=5 compressed=0 delta=0 real=0
while [ $# -gt 0 ]; do
  case $1 in
    --compressed) compressed=1; shift ;;
    --delta) delta=1; shift ;;
    --real-programs) delta=1 real=1; shift ;;
    --mib) mib=$2; shift 2 ;;
    --members) members=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    *) build=$1; shift ;;
  esac
done
build=$(realpath "$build")
real_cache=${XDG_CACHE_HOME:-$HOME/.cache}/varno-bench/x  # before Wine's HOME is set
exe=$build/Varnolith_MAJ_Solo.exe
[ -x "$exe" ] || { echo "no updater at $exe: run bash scripts/build first"; exit 2; }
pack=$(realpath "$(dirname "$0")/..")/build/host/varno-pack
[ "$compressed$delta" = 00 ] || [ -x "$pack" ] || { echo "no varno-pack at $pack: build the host build first"; exit 2; }
. "$(dirname "$0")/../tests/e2e/e2e.sh"
trap varno_wine_end EXIT
varno_wine_begin "$build/wine-template"
varno_xvfb_begin
wineserver -p  # one server for every run, so that each run's fixed cost stays the same
# Xvfb has no window manager, so Wine, hiding a window it lets a window manager handle (the
# confirmation box once answered), waits two seconds for a state change that never comes.
# That pause falls between the memory warmed below and the unpacking, which then writes into
# memory the virtual machine has handed back to its host and runs two to three times slower
# than the quiet run did (seen by delaying a quiet run by 1 to 6 s: 1.2 s became 1.9-3.2 s).
# Windows that Wine manages itself close at once, as they do on Windows.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1

install='C:\Produits\Varnolith'
unix_install=$(varno_unix_path "$install")
package=$(varno_unix_path 'C:\Paquet')
empty_package=$(varno_unix_path 'C:\PaquetVide')
data=$VARNO_WINE_TMP/members
copy=$(varno_unix_path 'C:\Copie')

# The members: incompressible bytes, as many archive entries as asked; or real libraries.
mkdir -p "$data"
[ "$real" -eq 1 ] || echo "making $members members, $mib MiB in all"
arguments=()
names=()
libraries() {
  while :; do
    find /usr/i686-w64-mingw32 /usr/lib/gcc/i686-w64-mingw32 -type f \( -name '*.a' -o -name '*.dll' -o -name '*.exe' \) \
      -print0 | LC_ALL=C sort -z | xargs -0 cat || break  # the reader took what it wanted
  done
}
real_programs() {
  local cache=$real_cache package dirs f total=0
  members=0
  mkdir -p "$VARNO_WINE_TMP/release"
  for package in python3.11-minimal systemd; do
    mapfile -t dirs < <(ls -d "$cache/${package}_"* 2>/dev/null | sort -V)
    [ ${#dirs[@]} -ge 2 ] || { echo "no two builds of $package in $cache: run bench/real_delta_bench.sh first"; exit 2; }
    while IFS= read -r f; do
      [ -f "${dirs[-1]}/$f" ] && ! cmp -s "${dirs[0]}/$f" "${dirs[-1]}/$f" || continue
      cp "${dirs[0]}/$f" "$data/member$members.bin"
      cp "${dirs[-1]}/$f" "$VARNO_WINE_TMP/release/member$members.bin"
      total=$((total + $(stat -c %s "${dirs[-1]}/$f")))
      arguments+=("member$members.bin" "$data/member$members.bin")
      names+=("member$members.bin")
      members=$((members + 1))
    done < <(cd "${dirs[0]}" && find . -type f -size +64k | sort)
  done
  mib=$((total / 1048576 + 1))
  echo "$members real programs changed, $total bytes"
}
[ "$compressed" -eq 0 ] || libraries 2>/dev/null | head -c $((mib * 1048576 / members * members)) >"$VARNO_WINE_TMP/pool" || true
[ "$real" -eq 0 ] || real_programs
for i in $(seq 0 $((members - 1))); do
  [ "$real" -eq 0 ] || break
  if [ "$compressed" -eq 1 ]; then
    dd if="$VARNO_WINE_TMP/pool" of="$data/member$i.bin" iflag=skip_bytes,count_bytes status=none \
      skip=$((i * (mib * 1048576 / members))) count=$((mib * 1048576 / members))
  else
    head -c $((mib * 1048576 / members)) /dev/urandom >"$data/member$i.bin"
  fi
  arguments+=("member$i.bin" "$data/member$i.bin")
  names+=("member$i.bin")
done
rm -f "$VARNO_WINE_TMP/pool"
# The new release, for --delta: each member changed in 64 places.
release=$data
if [ "$real" -eq 1 ]; then
  release=$VARNO_WINE_TMP/release
elif [ "$delta" -eq 1 ]; then
  release=$VARNO_WINE_TMP/release
  mkdir -p "$release"
  size=$((mib * 1048576 / members))
  for name in "${names[@]}"; do
    cp "$data/$name" "$release/$name"
    for k in $(seq 0 63); do
      head -c 16 /dev/urandom | dd of="$release/$name" bs=1 seek=$((k * (size / 64) + 1000)) conv=notrunc status=none
    done
  done
fi
e2e_package "$package" "$exe" 2816090
if [ "$delta" -eq 1 ]; then
  printf '[package]\nversion = 2816090\nlabel = "2.9"\nmin-file-version = 28\nmin-installed-version = 2816000\n[files]\nstaging = "%s"\nupdater = "%s"\n' \
    "$release" "$exe" >"$VARNO_WINE_TMP/varno-package.toml"
  "$pack" build "$VARNO_WINE_TMP/varno-package.toml" -o "$package" --force --since "$data" -q
  echo "deltas: $(stat -c %s "$package/sor_delta.slp") bytes for $((mib * 1048576 / members * members)) bytes of files"
elif [ "$compressed" -eq 1 ]; then
  "$pack" create "$package/sor_ti1.slp" -C "$data" -q "${names[@]}" >/dev/null
  mkdir -p "$VARNO_WINE_TMP/gz"
  for name in "${names[@]}"; do gzip -6 -c "$data/$name" >"$VARNO_WINE_TMP/gz/$name.gz"; done
  echo "archive: $(stat -c %s "$package/sor_ti1.slp") bytes; gzip -6 of the members: $(cat "$VARNO_WINE_TMP"/gz/*.gz | wc -c) bytes"
else
  e2e_archive "$package/sor_ti1.slp" "${arguments[@]}"
fi
# The same run with a one-byte archive: what a run costs besides the unpacking.
printf 'x' >"$VARNO_WINE_TMP/tiny.bin"
e2e_package "$empty_package" "$exe" 2816090
e2e_archive "$empty_package/sor_ti1.slp" member0.bin "$VARNO_WINE_TMP/tiny.bin"

seconds() { date +%s.%N; }
# calc EXPRESSION: the value of the arithmetic on decimal seconds.
calc() { awk "BEGIN { printf \"%.3f\", $1 }"; }
# On a virtual machine that hands freed memory back to its host (a balloon with free page
# reporting), pages the file cache takes a few seconds after they were freed cost a fault
# on the host each: writing 1 GiB then takes four times as long. Each contender starts
# right after as much memory as it will write was touched and freed again.
warm_memory() {
  dd if=/dev/zero of="$VARNO_WINE_TMP/warm" bs=1M count=$((mib + 64)) status=none
  rm -f "$VARNO_WINE_TMP/warm"
}
# fresh_installation DIR: the installation as before an update, the package in DIR read once
# (so that it starts from the page cache), the memory warmed.
fresh_installation() {
  rm -rf "$unix_install"
  e2e_install "$build/samples" "$install" 2816080 app-paths
  [ "$delta" -eq 0 ] || cp "$data"/* "$unix_install/"
  cat "$1"/*.slp >/dev/null
  sync
  warm_memory
}
# run DIR: a quiet update from the package in DIR into a fresh installation; prints seconds.
run() {
  fresh_installation "$1"
  local start status=0
  start=$(seconds)
  (cd "$1" && ${VARNO_BENCH_WRAP:-} wine Varnolith_MAJ_Solo.exe /quiet >/dev/null 2>&1) || status=$?
  calc "$(seconds) - $start"
  [ "$status" -eq 0 ] || { echo "the quiet run ended with $status" >&2; return 1; }
}
# run_shown DIR: the same update with its window shown, the confirmation answered as a person
# would; prints the seconds from the answer to the run log's line after the database update
# (the run log's time of writing, so that the polling adds nothing), then ends the program
# with its Quitter button.
run_shown() {
  fresh_installation "$1"
  local log=$unix_install/VarnoMaJLog.txt start i
  (cd "$1" && exec ${VARNO_BENCH_WRAP:-} wine Varnolith_MAJ_Solo.exe >/dev/null 2>&1) &
  E2E_PID=$!
  local box
  box=$(e2e_wait_window '^Confirmation$' 60)
  # The run starts with the answer: the memory is warmed again just before it, as for the
  # quiet run just before Wine starts, not seconds earlier while the window came up.
  warm_memory
  e2e_key "$box" o >&2
  start=$(seconds)
  # The time is the log's, so the polling needs no haste (a busier one would take the CPU
  # from the run it times).
  for i in $(seq 3000); do
    grep -q 'SetUpDateTable' "$log" 2>/dev/null && break
    sleep 0.2
  done
  calc "$(stat -c %.9Y "$log") - $start"
  e2e_key "$(e2e_wait_window 'jour de Varnolith$' 30)" Return >&2
  e2e_wait_exit 60 >&2 || { echo "the run with its window did not end with 0" >&2; return 1; }
}
copy_and_sync() {
  rm -rf "$copy"
  mkdir -p "$copy"
  local source=$release
  [ "$compressed" -eq 0 ] || source=$VARNO_WINE_TMP/gz
  cat "$source"/* >/dev/null
  sync
  warm_memory
  local start name
  start=$(seconds)
  if [ "$compressed" -eq 1 ]; then
    for name in "${names[@]}"; do gzip -dc "$source/$name.gz" >"$copy/$name"; done
  else
    cp "$release"/* "$copy/"
  fi
  sync "$copy"/*
  calc "$(seconds) - $start"
}
contender="cp + sync"
[ "$compressed" -eq 0 ] || contender="gzip -dc + sync"
# What an update by deltas cannot do without, beside writing the files, for --delta: the
# SHA-256 of every installed file before anything is written (OpenSSL's, which uses the
# processor's SHA instructions, on two processes, from the page cache), and the removal of
# the files it replaced (as many files as large, freshly written, removed and the removal
# synced, as the commit removes the backups; on a disk that discards freed blocks at once
# that costs about a third of writing them). Prints the two seconds.
delta_floor() {
  cat "$data"/* >/dev/null
  local start digests half=$(((members + 1) / 2))
  start=$(seconds)
  (cd "$data" && openssl dgst -sha256 "${names[@]:0:half}" >/dev/null & cd "$data" && openssl dgst -sha256 "${names[@]:half}" >/dev/null & wait)
  digests=$(calc "$(seconds) - $start")
  start=$(seconds)
  rm -rf "$copy"
  sync
  echo "$digests $(calc "$(seconds) - $start")"
}

: >"$VARNO_WINE_TMP/quiet-ratios"
: >"$VARNO_WINE_TMP/shown-ratios"
: >"$VARNO_WINE_TMP/floor-ratios"
unpacked() {
  cmp -s "$unix_install/member$((members - 1)).bin" "$release/member$((members - 1)).bin" ||
    { echo "the update did not unpack the package"; exit 1; }
}
for round in $(seq "$rounds"); do
  full=$(run "$package")
  unpacked
  fixed=$(run "$empty_package")
  shown_full=$(run_shown "$package")
  unpacked
  shown_fixed=$(run_shown "$empty_package")
  copied=$(copy_and_sync)
  quiet=$(calc "$full - $fixed")
  shown=$(calc "$shown_full - $shown_fixed")
  calc "$quiet / $copied" >>"$VARNO_WINE_TMP/quiet-ratios"; echo >>"$VARNO_WINE_TMP/quiet-ratios"
  calc "$shown / $quiet" >>"$VARNO_WINE_TMP/shown-ratios"; echo >>"$VARNO_WINE_TMP/shown-ratios"
  if [ "$delta" -eq 1 ]; then
    read -r digests removal < <(delta_floor)
    calc "($digests + $copied + $removal) / $copied" >>"$VARNO_WINE_TMP/floor-ratios"; echo >>"$VARNO_WINE_TMP/floor-ratios"
  fi
  printf 'round %d: quiet %.2f s - %.2f s (one-byte archive) = %.2f s; window %.2f s - %.2f s = %.2f s; %s %.2f s\n' \
    "$round" "$full" "$fixed" "$quiet" "$shown_full" "$shown_fixed" "$shown" "$contender" "$copied"
  printf '  quiet / (%s) x%.2f, window / quiet x%.2f\n' "$contender" "$(calc "$quiet / $copied")" "$(calc "$shown / $quiet")"
  [ "$delta" -eq 0 ] || printf '  digests of the installed files (openssl) %.2f s, removal of the replaced files %.2f s: %s with both x%.2f\n' \
    "$digests" "$removal" "$contender" "$(calc "($digests + $copied + $removal) / $copied")"
done
# best_median FILE: the smallest and the median of the numbers in the file.
best_median() { printf 'best x%.2f, median x%.2f' "$(sort -n "$1" | head -n1)" "$(sort -n "$1" | sed -n "$(( (rounds + 1) / 2 ))p")"; }
echo "quiet unpacking / ($contender): $(best_median "$VARNO_WINE_TMP/quiet-ratios") (target x1.25)"
echo "unpacking with the window / quiet unpacking: $(best_median "$VARNO_WINE_TMP/shown-ratios") (target x1.10)"
[ "$delta" -eq 0 ] || echo "($contender with the digests and the removal an update by deltas needs) / ($contender): $(best_median "$VARNO_WINE_TMP/floor-ratios")"
