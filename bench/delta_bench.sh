#!/usr/bin/env bash
# How small a package of a minor release gets: two consecutive Debian builds of git
# (1:2.39.5-0+deb12u2 and 1:2.39.5-0+deb12u3: its programs and libraries, rebuilt with a fix)
# as the previous and the new staging tree.
#   - the deltas of `varno-pack build --since` against `bsdiff` patches of the same files;
#   - the compressed full package against `gzip -6` of a tar of the same tree;
#   - the build's time (compression on both cores, the deltas' encoding).
# Run by hand: bash bench/delta_bench.sh [VARNO_PACK] [--dir PATH]. Needs apt-get download
# (Debian's archive), dpkg-deb and bsdiff (the Debian package, for the comparison only).
set -euo pipefail
pack=build/host/varno-pack
dir=$PWD/varno-delta-bench
while [ $# -gt 0 ]; do
  case $1 in
    --dir) dir=$2; shift 2 ;;
    *) pack=$1; shift ;;
  esac
done
pack=$(realpath "$pack")
command -v bsdiff >/dev/null || { echo "needs bsdiff (apt-get install bsdiff)"; exit 2; }
rm -rf "$dir"
mkdir -p "$dir/debs"
trap 'rm -rf "$dir"' EXIT

versions=(1:2.39.5-0+deb12u2 1:2.39.5-0+deb12u3)
(cd "$dir/debs" && apt-get download "git=${versions[0]}" "git=${versions[1]}" >/dev/null 2>&1)
n=0
for deb in "$dir"/debs/*.deb; do
  n=$((n + 1))
  dpkg-deb -x "$deb" "$dir/x$n"
  # The programs and libraries, links followed: a staging tree holds plain files.
  mkdir -p "$dir/v$n"
  cp -rL "$dir/x$n/usr/lib/git-core" "$dir/v$n/git-core"
  cp -rL "$dir/x$n/usr/bin" "$dir/v$n/bin"
done
printf 'updater' >"$dir/Varnolith_MAJ_Solo.exe"
cat >"$dir/varno-package.toml" <<'TOML'
[package]
version = 2816090
label = "bench"
[files]
staging = "v2"
updater = "Varnolith_MAJ_Solo.exe"
TOML

seconds() { local start=$(date +%s.%N); "$@" >/dev/null; echo "$(date +%s.%N) - $start" | bc; }
size_of() { stat -c %s "$@" 2>/dev/null | paste -sd+ | bc; }

echo "git ${versions[0]} -> ${versions[1]}: $(find "$dir/v2" -type f | wc -l) files, $(du -sb "$dir/v2" | cut -f1) bytes"

# Deltas against bsdiff, file for file, over the files varno-pack carried as deltas.
build_delta=$(seconds "$pack" build "$dir/varno-package.toml" -o "$dir/delta-pkg" --since "$dir/v1" -q)
ours=$(size_of "$dir/delta-pkg/sor_delta.slp")
theirs=0 whole=0 files=0
while IFS='|' read -r path _; do
  path=${path//\\//}
  bsdiff "$dir/v1/$path" "$dir/v2/$path" "$dir/patch"
  theirs=$((theirs + $(size_of "$dir/patch")))
  whole=$((whole + $(size_of "$dir/v2/$path")))
  files=$((files + 1))
done < <(tr -d '\r' <"$dir/delta-pkg/MjaIni.ini" | sed -n '/^\[delta\]$/,/^\[/p' | grep '|')
echo "deltas: $files changed files of $whole bytes"
echo "  varno-pack: $ours bytes (sor_delta.slp, archive header included), built in $build_delta s"
echo "  bsdiff:     $theirs bytes"
echo "  ratio:      $(echo "scale=3; $ours / $theirs" | bc) (target <= 1)"

# The whole tree compressed, against gzip -6 of its tar.
build_full=$(seconds "$pack" build "$dir/varno-package.toml" -o "$dir/full-pkg" -q)
package=$(size_of "$dir"/full-pkg/*.slp)
gzipped=$(tar -C "$dir/v2" -cf - . | gzip -6 | wc -c)
echo "compressed package: $package bytes of archives, built in $build_full s ($(echo "scale=1; $(du -sb "$dir/v2" | cut -f1) / $build_full / 1048576" | bc) MiB/s)"
echo "  tar | gzip -6:    $gzipped bytes"
echo "  ratio:            $(echo "scale=3; $package / $gzipped" | bc) (target <= 1.05)"
