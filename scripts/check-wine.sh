#!/usr/bin/env bash
# Renders the same raw frames with the Linux build and, under Wine, with the
# Windows build (morvek-render.exe loading MorvekExposure.aex), and requires
# byte-identical frames (scripts/same-renders.sh).
#
#   scripts/check-wine.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR
#
# The Wine prefix is kept in WINDOWS_BUILD_DIR/wineprefix, so only the first
# run pays for creating it.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 LINUX_BUILD_DIR WINDOWS_BUILD_DIR" >&2
  exit 2
fi
windows_build=$(cd "$2" && pwd)
windows_render=$windows_build/tools/morvek-render/morvek-render.exe
windows_module=$windows_build/MorvekSuites/Exposure/MorvekExposure.aex
for f in "$windows_render" "$windows_module"; do
  [ -f "$f" ] || { echo "missing $f" >&2; exit 1; }
done
wine=$(command -v wine || command -v wine64 || true)
[ -n "$wine" ] || { echo "wine is not installed" >&2; exit 1; }
export WINEPREFIX=$windows_build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# Only the program and the module in a folder of their own: under Windows the
# property list is read from the module's own resource, not from a file
# beside it.
render_windows() {
  local input=$1 output=$2
  shift 2
  local dir=$same_renders_work/win
  if [ ! -d "$dir" ]; then
    mkdir "$dir"
    cp "$windows_render" "$windows_module" "$dir/"
  fi
  cp "$input" "$dir/in.raw"
  rm -f "$dir/out.raw"
  (cd "$dir" && "$wine" morvek-render.exe --plugin MorvekExposure.aex "$@" in.raw out.raw) && cp "$dir/out.raw" "$output"
}

# shellcheck source=scripts/same-renders.sh
. "$(dirname "$0")/same-renders.sh"
same_renders "$1" "Windows under Wine" render_windows
