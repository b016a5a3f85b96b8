#!/usr/bin/env bash
# Compressed package archives against gzip: the size of varno-pack's archives of a tree of
# real programs and libraries beside `gzip -6` of a tar of the same tree, and the build rate
# (varno-pack compresses on two threads in the host build). Run by hand after building
# build/host/varno-pack:
#   bash bench/compress_bench.sh [VARNO_PACK] [DIR...]
# Default tree: the MinGW sysroot (/usr/i686-w64-mingw32 and /usr/lib/gcc/i686-w64-mingw32:
# real Windows libraries, objects and programs), copied to ${TMPDIR:-/tmp} first so that
# every contender reads the same files from the same disk. Archives hold 128 members at
# most, so the tree goes into as many archives as that takes, as `build` would split it.
set -euo pipefail
tool=${1:-build/host/varno-pack}
shift || true
dirs=("$@")
[ "${#dirs[@]}" -gt 0 ] || dirs=(/usr/i686-w64-mingw32 /usr/lib/gcc/i686-w64-mingw32)
tool=$(realpath "$tool")
[ -x "$tool" ] || { echo "no varno-pack at $tool: cmake --build build/host --target varno-pack" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/varno-compress-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree" "$work/out"
for dir in "${dirs[@]}"; do cp -a --no-dereference "$dir" "$work/tree/" ; done
mapfile -t files < <(cd "$work/tree" && find . -type f | LC_ALL=C sort)
bytes=$(cd "$work/tree" && cat "${files[@]}" | wc -c)
echo "tree: ${#files[@]} files, $bytes bytes"
sync

seconds() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.3f\", $1 }"; }

# pack [OPTION...]: every file into archives of 128 members; prints the seconds taken. The
# largest resident size of any create (kB, from /usr/bin/time when there is one) goes to
# $work/peak.
pack() {
  rm -f "$work"/out/*.slp
  echo 0 >"$work/peak"
  local start end i group timer=()
  [ ! -x /usr/bin/time ] || timer=(/usr/bin/time -f %M -o "$work/rss")
  start=$(seconds)
  for ((i = 0; i < ${#files[@]}; i += 128)); do
    group=()
    for f in "${files[@]:i:128}"; do group+=("f$((${#group[@]} + i))=$f"); done
    "${timer[@]}" "$tool" create "$work/out/a$i.slp" -C "$work/tree" -q "$@" "${group[@]}" >/dev/null
    [ ! -s "$work/rss" ] || [ "$(cat "$work/rss")" -le "$(cat "$work/peak")" ] || cp "$work/rss" "$work/peak"
  done
  end=$(seconds)
  calc "$end - $start"
}

# unpack: every archive into a fresh directory with varno-pack extract (the updater's own
# extractor, each file flushed and put in place); prints the seconds taken.
unpack() {
  rm -rf "$work/x"
  sync
  local start archive
  start=$(seconds)
  for archive in "$work"/out/*.slp; do "$tool" extract "$archive" "$work/x" --make-dirs -q >/dev/null; done
  calc "$(seconds) - $start"
}

stored_time=$(pack --no-compress)
stored_size=$(cat "$work"/out/*.slp | wc -c)
stored_unpack=$(unpack)
packed_time=$(pack)
packed_size=$(cat "$work"/out/*.slp | wc -c)
packed_peak=$(cat "$work/peak")
start=$(seconds)
gzip_size=$(tar cf - -C "$work/tree" . | gzip -6 | wc -c)
gzip_time=$(calc "$(seconds) - $start")
unpack_time=$(unpack)

echo "stored (SG1, --no-compress): $stored_size bytes in ${stored_time} s"
echo "compressed (SG2):            $packed_size bytes in ${packed_time} s" \
  "($(calc "$bytes / 1048576 / $packed_time") MiB/s of input, $(nproc) cores)"
echo "tar | gzip -6:               $gzip_size bytes in ${gzip_time} s (one core)"
echo "peak resident size of create: $packed_peak kB"
echo "ratio to gzip -6:            $(calc "$packed_size / $gzip_size")  (target: at most 1.05)"
echo "saved against stored:        $(calc "100 - 100 * $packed_size / $stored_size") %"
echo "varno-pack extract, stored:     ${stored_unpack} s"
echo "varno-pack extract, compressed: ${unpack_time} s ($(calc "$bytes / 1048576 / $unpack_time") MiB/s)"
