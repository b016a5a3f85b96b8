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

# pack [OPTION...]: every file into archives of 128 members; prints the seconds taken.
pack() {
  rm -f "$work"/out/*.slp
  local start end i group
  start=$(seconds)
  for ((i = 0; i < ${#files[@]}; i += 128)); do
    group=()
    for f in "${files[@]:i:128}"; do group+=("f$((${#group[@]} + i))=$f"); done
    "$tool" create "$work/out/a$i.slp" -C "$work/tree" -q "$@" "${group[@]}" >/dev/null
  done
  end=$(seconds)
  calc "$end - $start"
}

stored_time=$(pack --no-compress)
stored_size=$(cat "$work"/out/*.slp | wc -c)
packed_time=$(pack)
packed_size=$(cat "$work"/out/*.slp | wc -c)
start=$(seconds)
gzip_size=$(tar cf - -C "$work/tree" . | gzip -6 | wc -c)
gzip_time=$(calc "$(seconds) - $start")
start=$(seconds)
# The same members inflated back, for the rate of the updater's side on this machine.
for archive in "$work"/out/*.slp; do "$tool" extract "$archive" "$work/x" --make-dirs -q >/dev/null; done
unpack_time=$(calc "$(seconds) - $start")

echo "stored (SG1, --no-compress): $stored_size bytes in ${stored_time} s"
echo "compressed (SG2):            $packed_size bytes in ${packed_time} s" \
  "($(calc "$bytes / 1048576 / $packed_time") MiB/s of input, $(nproc) cores)"
echo "tar | gzip -6:               $gzip_size bytes in ${gzip_time} s (one core)"
echo "ratio to gzip -6:            $(calc "$packed_size / $gzip_size")  (target: at most 1.05)"
echo "saved against stored:        $(calc "100 - 100 * $packed_size / $stored_size") %"
echo "varno-pack extract of all:   ${unpack_time} s ($(calc "$bytes / 1048576 / $unpack_time") MiB/s)"
