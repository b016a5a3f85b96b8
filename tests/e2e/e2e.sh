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
  (cd "$1" && exec env WINEDEBUG=+msgbox wine "$2" 2>"$VARNO_WINE_TMP/stderr" >/dev/null) &
  E2E_PID=$!
}

# e2e_wait_exit SECONDS: waits for the program to end by itself; fails after SECONDS.
e2e_wait_exit() {
  local i
  for i in $(seq $(( $1 * 10 ))); do
    if ! kill -0 "$E2E_PID" 2>/dev/null; then
      wait "$E2E_PID" || { echo "program exited with status $?"; return 1; }
      E2E_PID=
      return 0
    fi
    sleep 0.1
  done
  echo "program still running after $1 s"
  return 1
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
  echo "no window named '$1' after $2 s" >&2
  return 1
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
