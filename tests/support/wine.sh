# Wine for the tests: a booted template prefix made once per build, copied for each test
# into a temporary folder with its own HOME, and a private X display when a test needs one.
# Every function cleans up after itself; nothing depends on what earlier runs left behind.

export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="

# Boots the template prefix in DIR unless it is there already. Safe when tests run in
# parallel: the first one boots, the others wait for it.
varno_wine_template() {
  local dir=$1
  mkdir -p "$(dirname "$dir")"
  (
    flock 9
    if [ ! -f "$dir/ready" ]; then
      rm -rf "$dir"
      mkdir -p "$dir/home"
      HOME="$dir/home" WINEPREFIX="$dir/prefix" wineboot -i >/dev/null 2>&1
      HOME="$dir/home" WINEPREFIX="$dir/prefix" wineserver -w
      # A fresh prefix links Desktop, Documents and the like to the Unix home directory;
      # real folders inside the prefix keep every test's files inside its own copy.
      local link
      for link in "$dir"/prefix/drive_c/users/*/*; do
        if [ -L "$link" ]; then
          rm "$link"
          mkdir "$link"
        fi
      done
      touch "$dir/ready"
    fi
  ) 9>"$dir.lock"
}

# Makes this shell use a private copy of the template: WINEPREFIX, HOME and VARNO_WINE_TMP
# are exported; varno_wine_end removes it all again.
varno_wine_begin() {
  local template=$1
  varno_wine_template "$template"
  VARNO_WINE_TMP=$(mktemp -d "${TMPDIR:-/tmp}/varno-wine.XXXXXX")
  cp -a "$template/prefix" "$VARNO_WINE_TMP/prefix"
  mkdir -p "$VARNO_WINE_TMP/home"
  export VARNO_WINE_TMP WINEPREFIX="$VARNO_WINE_TMP/prefix" HOME="$VARNO_WINE_TMP/home"
  VARNO_WINE_USER_DIR=$(ls -d "$WINEPREFIX"/drive_c/users/* | grep -v '/Public$' | head -n 1)
  export VARNO_WINE_USER_DIR
}

# Starts a private X server on a free display and exports DISPLAY.
varno_xvfb_begin() {
  local n
  for n in $(seq 90 190); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || break
  done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  VARNO_XVFB_PID=$!
  export DISPLAY=":$n"
  local tries
  for tries in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && return 0
    sleep 0.1
  done
  echo "Xvfb did not start on :$n" >&2
  return 1
}

# Ends every Wine process of the private prefix, the X server, and removes the folder.
varno_wine_end() {
  if [ -n "${WINEPREFIX:-}" ] && [ -n "${VARNO_WINE_TMP:-}" ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
  fi
  if [ -n "${VARNO_XVFB_PID:-}" ]; then
    kill "$VARNO_XVFB_PID" 2>/dev/null || true
    wait "$VARNO_XVFB_PID" 2>/dev/null || true
  fi
  if [ -n "${VARNO_WINE_TMP:-}" ] && [ -z "${VARNO_KEEP_WINE_TMP:-}" ]; then
    rm -rf "$VARNO_WINE_TMP"
  fi
}

# The Unix path of a Windows path on drive C: of the private prefix.
varno_unix_path() {
  local windows=${1#[Cc]:}
  printf '%s/drive_c%s\n' "$WINEPREFIX" "${windows//\\//}"
}
