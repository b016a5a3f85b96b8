#!/usr/bin/env bash
# Deltas between two consecutive Debian builds of real programs, side by side with the usual
# tools: python3.11 (python3.11-minimal, 6.8 MB) and systemd's changed programs over 64 KiB.
#   - the delta's size: ours (varno_delta_file, the encoder varno-pack runs), bsdiff,
#     xdelta3 -9, zstd --patch-from --long -19;
#   - the time and peak memory (/usr/bin/time -v's maximum resident set) of making it;
#   - the time of applying it natively: ours (ApplyDelta, as the updater runs it) against
#     bspatch, xdelta3 -d and zstd -d; every result compared with the new file.
# The packages are fetched with apt-get download on first use and kept in the cache
# directory. Medians of the rounds (sums over a package's files within each round; memory:
# the largest file's peak). A benchmark to run by hand, not a test:
#   bash bench/real_delta_bench.sh [--rounds 5] [--cache DIR] [--tool build/host/bench/varno_delta_file]
set -euo pipefail
rounds=5
cache=${XDG_CACHE_HOME:-$HOME/.cache}/varno-bench
tool=build/host/bench/varno_delta_file
while [ $# -gt 0 ]; do
  case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --cache) cache=$2; shift 2 ;;
    --tool) tool=$2; shift 2 ;;
    *) echo "usage: $0 [--rounds N] [--cache DIR] [--tool PATH]"; exit 2 ;;
  esac
done
tool=$(realpath "$tool")
for needed in bsdiff bspatch xdelta3 zstd dpkg-deb /usr/bin/time; do
  command -v "$needed" >/dev/null || { echo "needs $needed (apt-get install bsdiff xdelta3 zstd time)"; exit 2; }
done
[ -x "$tool" ] || { echo "build it first: cmake --build build/host --target varno_delta_file"; exit 2; }

# Two builds of each package that the archive serves (bookworm and its security or
# updates suite); the cache keeps them once fetched.
packages=(python3.11-minimal systemd)
mkdir -p "$cache"
extracted() {  # package version -> directory
  local dir="$cache/x/$1_$2"
  if [ ! -d "$dir" ]; then
    local deb
    deb=$(ls "$cache/$1_$(echo "$2" | sed 's/:/%3a/')_"*.deb 2>/dev/null | head -1 || true)
    if [ -z "$deb" ]; then
      (cd "$cache" && apt-get download "$1=$2" >/dev/null 2>&1) || { echo "apt-get download $1=$2 failed" >&2; return 1; }
      deb=$(ls "$cache/$1_$(echo "$2" | sed 's/:/%3a/')_"*.deb | head -1)
    fi
    mkdir -p "$dir.part" && dpkg-deb -x "$deb" "$dir.part" && mv "$dir.part" "$dir"
  fi
  echo "$dir"
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
# Runs a command under /usr/bin/time; appends "seconds kilobytes" to the file $1 (the wall
# time from bash's clock in microseconds: time's own is in hundredths, as long as a small
# file's whole run).
measure() {
  local out=$1; shift
  local start=$EPOCHREALTIME
  /usr/bin/time -f "%M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; return 1; }
  local end=$EPOCHREALTIME
  echo "$(echo "$end - $start" | bc -l) $(cat "$work/time")" >>"$out"
}

printf '%-20s %-26s %12s %9s %9s %10s %9s\n' package tool "delta bytes" "x ours" "encode s" "encode MB" "apply s"
for package in "${packages[@]}"; do
  mapfile -t versions < <(apt-cache madison "$package" | awk '{print $3}' | sort -uV | tail -2)
  [ ${#versions[@]} -eq 2 ] || { echo "$package: the archive serves one build only" >&2; continue; }
  old=$(extracted "$package" "${versions[0]}") && new=$(extracted "$package" "${versions[1]}") || continue
  # The changed programs and libraries over 64 KiB that both builds hold.
  files=()
  while IFS= read -r f; do
    [ -f "$new/$f" ] && ! cmp -s "$old/$f" "$new/$f" && files+=("$f")
  done < <(cd "$old" && find . -type f -size +64k | sort)
  [ ${#files[@]} -gt 0 ] || continue
  largest=0
  for f in "${files[@]}"; do
    size=$(stat -c %s "$new/$f"); [ "$size" -gt "$largest" ] && largest=$size
    size=$(stat -c %s "$old/$f"); [ "$size" -gt "$largest" ] && largest=$size
  done
  echo "# $package ${versions[0]} -> ${versions[1]}: ${#files[@]} changed files, largest $largest bytes" >&2
  declare -A size=() encode=() memory=() apply=()
  for tool_name in ours bsdiff xdelta3 zstd; do
    for ((round = 1; round <= rounds; round++)); do
      : >"$work/enc" ; : >"$work/dec"
      bytes=0
      for f in "${files[@]}"; do
        o="$old/$f" n="$new/$f" d="$work/delta" r="$work/result"
        rm -f "$d" "$r"
        case $tool_name in
          ours) measure "$work/enc" "$tool" encode "$o" "$n" "$d"; measure "$work/dec" "$tool" apply "$o" "$d" "$r" ;;
          bsdiff) measure "$work/enc" bsdiff "$o" "$n" "$d"; measure "$work/dec" bspatch "$o" "$r" "$d" ;;
          xdelta3) measure "$work/enc" xdelta3 -9 -f -e -s "$o" "$n" "$d"; measure "$work/dec" xdelta3 -f -d -s "$o" "$d" "$r" ;;
          zstd) measure "$work/enc" zstd -q -f --patch-from="$o" --long=31 -19 "$n" -o "$d"
                measure "$work/dec" zstd -q -f -d --patch-from="$o" --long=31 "$d" -o "$r" ;;
        esac
        cmp -s "$r" "$n" || { echo "$tool_name: $f does not come back" >&2; exit 1; }
        bytes=$((bytes + $(stat -c %s "$d")))
      done
      size[$tool_name]=$bytes
      awk '{s += $1} END {print s}' "$work/enc" >>"$work/$tool_name.encode"
      awk '{if ($2 > m) m = $2} END {print m / 1024}' "$work/enc" >>"$work/$tool_name.memory"
      awk '{s += $1} END {print s}' "$work/dec" >>"$work/$tool_name.apply"
    done
    encode[$tool_name]=$(median <"$work/$tool_name.encode")
    memory[$tool_name]=$(median <"$work/$tool_name.memory")
    apply[$tool_name]=$(median <"$work/$tool_name.apply")
    rm -f "$work/$tool_name".*
  done
  for tool_name in ours bsdiff xdelta3 zstd; do
    printf '%-20s %-26s %12d %9.2f %9.3f %10.1f %9.3f\n' "$package" "$tool_name" "${size[$tool_name]}" \
      "$(echo "${size[$tool_name]} / ${size[ours]}" | bc -l)" "${encode[$tool_name]}" "${memory[$tool_name]}" \
      "${apply[$tool_name]}"
  done
  printf '%-20s %-26s %12s %9s %9.2f %10.1f %9.2f\n' "$package" "ours / bsdiff" \
    "$(printf '%.3f' "$(echo "${size[ours]} / ${size[bsdiff]}" | bc -l)")" "" \
    "$(echo "${encode[ours]} / ${encode[bsdiff]}" | bc -l)" \
    "$(echo "${memory[ours]} * 1048576 / $largest" | bc -l)" \
    "$(echo "${apply[ours]} / ${apply[bsdiff]}" | bc -l)"
  unset size encode memory apply
done
echo "(last line of each package: sizes, encoding time and applying time as ours / bsdiff's; memory as" \
     "our peak / the largest file)"
