#!/usr/bin/env bash
# Building a package from a large staging tree against `tar cf` of the same tree, side by
# side in each round, with the peak memory of each. Run by hand on a quiet machine:
#   bash bench/build_bench.sh [VARNO_PACK] [--mib N] [--files N] [--rounds N] [--dir PATH]
# Defaults: build/host/varno-pack, 1024 MiB in 2048 files (32 directories of 64, and a few
# at the top), 3 rounds, data in ./varno-build-bench (made and removed again; it takes
# about three times the tree's size while it runs).
set -euo pipefail
pack=build/host/varno-pack
mib=1024 files=2048 rounds=3 dir=$PWD/varno-build-bench
while [ $# -gt 0 ]; do
  case $1 in
    --mib) mib=$2; shift 2 ;;
    --files) files=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    *) pack=$1; shift ;;
  esac
done
pack=$(realpath "$pack")
[ -x /usr/bin/time ] || { echo "needs GNU time (/usr/bin/time) for the peak memory"; exit 2; }
rm -rf "$dir"
mkdir -p "$dir/staging"
trap 'rm -rf "$dir"' EXIT

# The tree: incompressible bytes, 8 files at the top, the rest in directories of 64.
kib=$((mib * 1024 / files))
echo "making $files files of $kib KiB in $dir/staging"
for i in $(seq 0 $((files - 1))); do
  if [ "$i" -lt 8 ]; then sub=.; else sub=$(printf 'Donnees/D%02d' $(((i - 8) / 64))); fi
  mkdir -p "$dir/staging/$sub"
  head -c $((kib * 1024)) /dev/urandom >"$dir/staging/$sub/f$i.bin"
done
printf 'updater' >"$dir/Varnolith_MAJ_Solo.exe"
cat >"$dir/varno-package.toml" <<'TOML'
[package]
version = 2816090
label = "bench"
[files]
staging = "staging"
updater = "Varnolith_MAJ_Solo.exe"
TOML
sync
cat $(find "$dir/staging" -type f) >/dev/null  # both sides start from the page cache

# measure NAME COMMAND...: appends "seconds peak-KiB" to $dir/NAME.
measure() {
  local name=$1
  shift
  /usr/bin/time -f '%e %M' -o "$dir/time" "$@" >/dev/null
  cat "$dir/time" >>"$dir/$name"
}
for round in $(seq "$rounds"); do
  rm -rf "$dir/package" "$dir/tree.tar"
  measure build "$pack" build "$dir/varno-package.toml" -o "$dir/package" -q
  measure tar tar cf "$dir/tree.tar" -C "$dir/staging" .
  measure tar_sync sh -c "rm -f '$dir/tree.tar' && tar cf '$dir/tree.tar' -C '$dir/staging' . && sync '$dir/tree.tar'"
  echo "round $round: build $(tail -n1 "$dir/build" | cut -d' ' -f1) s, tar cf $(tail -n1 "$dir/tar" | cut -d' ' -f1) s," \
    "tar cf + sync $(tail -n1 "$dir/tar_sync" | cut -d' ' -f1) s"
done

# best, median and peak memory of each, and the ratios of the medians.
summary() { sort -n "$dir/$1" | awk '{t[NR]=$1; if ($2>m) m=$2} END {printf "%.2f %.2f %d", t[1], t[int((NR+1)/2)], m}'; }
read -r build_best build_median build_peak <<<"$(summary build)"
read -r tar_best tar_median tar_peak <<<"$(summary tar)"
read -r sync_best sync_median sync_peak <<<"$(summary tar_sync)"
echo
echo "$mib MiB in $files files, $rounds rounds (seconds: best / median; peak resident memory)"
printf '  varno-pack build   %6.2f / %6.2f   %6d KiB\n' "$build_best" "$build_median" "$build_peak"
printf '  tar cf             %6.2f / %6.2f   %6d KiB\n' "$tar_best" "$tar_median" "$tar_peak"
printf '  tar cf + sync      %6.2f / %6.2f   %6d KiB\n' "$sync_best" "$sync_median" "$sync_peak"
awk -v b="$build_median" -v t="$tar_median" -v s="$sync_median" -v bb="$build_best" -v tb="$tar_best" \
  'BEGIN {printf "  build / tar cf: x%.2f best, x%.2f median (target x1.25 at most); build / tar cf + sync: x%.2f median\n", bb/tb, b/t, b/s}'
