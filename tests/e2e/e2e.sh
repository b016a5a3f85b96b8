# Helpers of the end-to-end tests: the real program under Wine in a private X display,
# driven with xdotool as a person would. Source it, then call e2e_begin.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../support/wine.sh"

# e2e_begin TEMPLATE SHOTS_DIR: private prefix, private display, cleanup on exit.
e2e_begin() {
  trap e2e_end EXIT
  varno_wine_begin "$1"
  varno_xvfb_begin
  E2E_SHOTS=$2
  mkdir -p "$E2E_SHOTS"
  E2E_FAILURES=0
}

e2e_end() {
  local status=$?
  [ -n "${E2E_PID:-}" ] && kill "$E2E_PID" 2>/dev/null
  varno_wine_end
  exit "$status"
}

# e2e_start DIR PROGRAM.exe: starts the program from the Unix directory DIR (its current
# directory) in the background, its standard error in $VARNO_WINE_TMP/stderr.
e2e_start() {
  (cd "$1" && exec env ${E2E_LOCALE:+LC_ALL=$E2E_LOCALE LANG=$E2E_LOCALE} WINEDEBUG=+msgbox wine "$2" \
     2>"$VARNO_WINE_TMP/stderr" >/dev/null) &
  E2E_PID=$!
}

# e2e_wait_exit SECONDS [CODE]: waits for the program to end by itself with the exit code
# CODE (default 0); fails after SECONDS. Wine gives the shell only the code's low 8 bits.
e2e_wait_exit() {
  local i status=0 expected=$(( ${2:-0} & 255 ))
  for i in $(seq $(( $1 * 10 ))); do
    if ! kill -0 "$E2E_PID" 2>/dev/null; then
      wait "$E2E_PID" || status=$?
      E2E_PID=
      [ "$status" -eq "$expected" ] || { echo "program exited with status $status, not $expected (${2:-0})"; return 1; }
      return 0
    fi
    sleep 0.1
  done
  echo "program still running after $1 s"
  return 1
}

# e2e_hold HOLD_PROGRAM WINDOWS_PATH: another program holds the file open without sharing,
# as a running product holds its own files, until e2e_release.
e2e_hold() {
  rm -f "$VARNO_WINE_TMP/release"
  (cd "$VARNO_WINE_TMP" && wine "$1" "$2" 'Z:'"$(echo "$VARNO_WINE_TMP/release" | tr / '\\')" >/dev/null 2>&1) &
  E2E_HOLDER=$!
  sleep 2
}
e2e_release() {
  touch "$VARNO_WINE_TMP/release"
  wait "$E2E_HOLDER" 2>/dev/null || true
}

# e2e_wait_window REGEX SECONDS: prints the id of the first visible window whose name
# matches.
e2e_wait_window() {
  local i id
  for i in $(seq $(( $2 * 10 ))); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.1
  done
  # What was there instead, for the next one who reads a failed run.
  echo "no window named '$1' after $2 s; visible: $(xdotool search --onlyvisible --name '.*' 2>/dev/null |
    while read -r id; do printf "'%s' " "$(xdotool getwindowname "$id" 2>/dev/null)"; done)" >&2
  [ ! -s "$VARNO_WINE_TMP/stderr" ] || { echo "the program's last messages:" >&2; tail -n 5 "$VARNO_WINE_TMP/stderr" >&2; }
  return 1
}

# e2e_wait_log FILE TEXT SECONDS: waits until the file (a run log) has TEXT; after SECONDS
# it says so and goes on, for the checks that follow to tell what is missing.
e2e_wait_log() {
  local i
  for i in $(seq $(( $3 * 10 ))); do
    grep -q "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "no '$2' in $1 after $3 s" >&2
}

# e2e_key WINDOW KEY: gives the window the focus and types the key.
e2e_key() {
  xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"
  sleep 0.2
  xdotool key --clearmodifiers "$2"
}

e2e_shot() {
  sleep 0.5
  import -window root "$E2E_SHOTS/$1.png"
}

# The boxes the program showed, one text per line, as Wine's message box trace gives them.
e2e_boxes() { grep -o 'MSGBOX_OnInit L".*"' "$VARNO_WINE_TMP/stderr" || true; }

e2e_check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAILED: $what"
    E2E_FAILURES=$((E2E_FAILURES + 1))
  fi
}

e2e_finish() {
  if [ "$E2E_FAILURES" -ne 0 ]; then
    echo "--- standard error of the program"
    cat "$VARNO_WINE_TMP/stderr" 2>/dev/null | grep -v '^[0-9a-f]*:fixme' | tail -n 40 || true
    return 1
  fi
}

# The Windows-1252 bytes of the UTF-8 text given, with \r\n written as such.
e2e_cp1252() { printf "$1" | iconv -f UTF-8 -t CP1252; }

same_file_bytes() { cmp -s "$1" "$2"; }

# e2e_reg_import: imports the REGEDIT4 text on standard input into the registry as a 32-bit
# program sees it.
e2e_reg_import() {
  cat >"$VARNO_WINE_TMP/import.reg"
  wine reg import "$(winepath -w "$VARNO_WINE_TMP/import.reg" 2>/dev/null)" /reg:32 >/dev/null 2>&1
}

# e2e_reg_value KEY NAME: prints the data of a value as a 32-bit program sees it, or nothing.
e2e_reg_value() {
  wine reg query "$1" /v "$2" /reg:32 2>/dev/null | tr -d '\r' | awk -v name="$2" '$1 == name {print $3}'
}

# e2e_install SAMPLES_DIR WINDOWS_DIR VERSION [app-paths]: the product's files in the
# directory, its "Version" value and, when asked, its App Paths entry.
e2e_install() {
  local samples=$1 dir=$2 version=$3 app_paths=${4:-}
  local unix
  unix=$(varno_unix_path "$dir")
  mkdir -p "$unix"
  cp "$samples/Varnolith.exe" "$samples/AdminVarnolith.exe" "$samples/Admin.dll" "$samples/Varxxlith.ocx" \
     "$samples/VarnoUpDate.dll" "$unix/"
  {
    printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Tolmerik\\Varnolith]\n"Version"="%s"\n' "$version"
    if [ -n "$app_paths" ]; then
      printf '\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Varnolith.exe]\n'
      printf '"Path"="%s"\n' "${dir//\\/\\\\}"
    fi
  } | e2e_reg_import
}

# e2e_package UNIX_DIR EXE NEW_VERSION [SECTIONS]: an update package directory holding the
# updater and a description with a 21-line header.
e2e_package() {
  local dir=$1 exe=$2 version=$3 sections=${4:-}
  mkdir -p "$dir"
  cp "$exe" "$dir/"
  {
    printf 'Mise a jour de Varnolith\r\n%s\r\n' "$version"
    for line in $(seq 3 21); do
      case $line in
        17) printf '28\r\n' ;;
        21) printf '2.9\r\n' ;;
        *) printf '\r\n' ;;
      esac
    done
    printf '%s' "$sections"
  } >"$dir/MjaIni.ini"
}

# e2e_log_is FILE EXPECTED_UTF8: the file holds exactly these lines (Windows-1252, CR LF).
e2e_log_is() {
  e2e_cp1252 "$2" >"$VARNO_WINE_TMP/expected.txt"
  if ! cmp -s "$1" "$VARNO_WINE_TMP/expected.txt"; then
    echo "--- expected"; iconv -f CP1252 -t UTF-8 "$VARNO_WINE_TMP/expected.txt"
    echo "--- found in $1"; iconv -f CP1252 -t UTF-8 "$1" 2>/dev/null || echo "<no file>"
    return 1
  fi
}

# e2e_box_shown TEXT: Wine's trace shows a message box with this text (its non-ASCII
# characters written as \00e0 and the like).
e2e_box_shown() { grep -qF "MSGBOX_OnInit L\"$1\"" "$VARNO_WINE_TMP/stderr"; }
e2e_box_count() { grep -c 'MSGBOX_OnInit' "$VARNO_WINE_TMP/stderr" || true; }

# e2e_archive OUT NAME FILE [NAME FILE...]: a package archive written byte by byte here,
# independently of the project's own writer: "SG1", the count, the big-endian sizes, the
# data, then a lead byte and the names separated by "#".
e2e_archive() {
  local out=$1
  shift
  local names=() files=() size
  while [ $# -gt 0 ]; do
    names+=("$1")
    files+=("$2")
    shift 2
  done
  {
    printf 'SG1'
    printf "\\x$(printf %02x ${#names[@]})"
    for file in "${files[@]}"; do
      size=$(stat -c %s "$file")
      printf "\\x$(printf %02x $((size >> 24 & 255)))\\x$(printf %02x $((size >> 16 & 255)))"
      printf "\\x$(printf %02x $((size >> 8 & 255)))\\x$(printf %02x $((size & 255)))"
    done
    cat "${files[@]}"
    printf '#%s' "$(IFS='#'; echo "${names[*]}")"
  } >"$out"
}

# e2e_reg_binary KEY NAME: the hexadecimal bytes of a REG_BINARY value, or nothing.
e2e_reg_typed() {
  wine reg query "$1" /v "$2" /reg:32 2>/dev/null | tr -d '\r' | awk -v name="$2" '$1 == name {print $2, $3}'
}

# e2e_window_origin WINDOW: where the window's client area stands on the screen, "X Y".
e2e_window_origin() {
  xwininfo -id "$1" | awk '/Absolute upper-left X:/ {x = $4} /Absolute upper-left Y:/ {y = $4} END {print x, y}'
}

# e2e_dark_pixels WINDOW X Y W H: how many dark pixels the window shows in that rectangle of
# its client area (text drawn there), from a fresh screenshot.
e2e_dark_pixels() {
  local left top
  read -r left top < <(e2e_window_origin "$1")
  import -window root "$VARNO_WINE_TMP/probe.png"
  convert "$VARNO_WINE_TMP/probe.png" -crop "${4}x${5}+$((left + $2))+$((top + $3))" +repage \
    -colorspace Gray -threshold 40% -negate -format '%[fx:round(mean*w*h)]' info:
}
