#!/usr/bin/env bash
# Rebuilds the golden shortcut files of this directory: the project's Win32 shell code saves
# them through Wine's shell link object, in a throwaway copy of the build's Wine prefix.
# Usage: regenerate.sh [WIN32_BUILD_DIR]   (default: build/win32 of the repository)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
build=$(cd "${1:-$root/build/win32}" && pwd)
cmake --build "$build" --target varno_link_tool -j2 >/dev/null

. "$root/tests/support/wine.sh"
trap varno_wine_end EXIT
varno_wine_begin "$build/wine-template"
# The system code page decides how the 8-bit paths reach the link object: Windows-1252.
export LANG=fr_FR.UTF-8
out=$(varno_unix_path 'C:\golden')
mkdir -p "$out"
wine "$build/tests/win32/varno_link_tool.exe" golden 'C:\golden'
wineserver -w
rm -f "$here"/*.lnk
cp "$out"/*.lnk "$here/"
ls -l "$here"/*.lnk
