#!/usr/bin/env bash
# Renders the same raw frames with the Linux build and, under Wine, with the
# Windows build (morvek-render.exe loading MorvekExposure.aex), at 8, 16 and
# 32 bits and several slider settings, and requires byte-identical frames.
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
linux_build=$(cd "$1" && pwd)
windows_build=$(cd "$2" && pwd)
linux_render=$linux_build/tools/morvek-render/morvek-render
linux_module=$linux_build/MorvekSuites/Exposure/MorvekExposure.so
windows_render=$windows_build/tools/morvek-render/morvek-render.exe
windows_module=$windows_build/MorvekSuites/Exposure/MorvekExposure.aex
for f in "$linux_render" "$linux_module" "$windows_render" "$windows_module"; do
  [ -f "$f" ] || { echo "missing $f" >&2; exit 1; }
done
wine=$(command -v wine || command -v wine64 || true)
[ -n "$wine" ] || { echo "wine is not installed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Only the program and the module: under Windows the property list is read
# from the module's own resource, not from a file beside it.
mkdir "$work/win"
cp "$windows_render" "$windows_module" "$work/win/"

export WINEPREFIX=$windows_build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# Input frames, alpha-red-green-blue, odd sizes so that the worker bands differ
# in height. 8 bits: every byte value. 16 bits: the whole range 0..32768.
# Float: -0.25 to 3.25 (below black and over white), with exact 0, 0.5, 1 and
# 2 and a denormal at the start.
w=67
h=41
n=$((w * h * 4))
perl -e 'print pack("C*", map { ($_ * 37 + 11) % 256 } 0 .. $ARGV[0] - 1)' "$n" >"$work/in8.raw"
perl -e 'print pack("v*", map { ($_ * 4099) % 32769 } 0 .. $ARGV[0] - 1)' "$n" >"$work/in16.raw"
perl -e 'my @v = (0, 0.5, 1, 2, 1e-40);
         push @v, -0.25 + ($_ % 1999) * 3.5 / 1998 for scalar(@v) .. $ARGV[0] - 1;
         print pack("f<*", @v)' "$n" >"$work/in32.raw"

settings=("0 1" "2.2 1" "-1.3 2.2" "3.9 0.45" "-4 10" "0.7 0.1" "12.5 3")
failures=0
runs=0
for depth in 8 16 32; do
  for s in "${settings[@]}"; do
    read -r exposure gamma <<<"$s"
    name="d${depth}_e${exposure}_g${gamma}"
    args=(--depth "$depth" --size "${w}x${h}" --exposure "$exposure" --gamma "$gamma" --threads 3)
    "$linux_render" --plugin "$linux_module" "${args[@]}" "$work/in$depth.raw" "$work/$name.linux.raw" >/dev/null
    cp "$work/in$depth.raw" "$work/win/in.raw"
    rm -f "$work/win/out.raw"
    (cd "$work/win" && "$wine" morvek-render.exe --plugin MorvekExposure.aex "${args[@]}" in.raw out.raw) \
      >"$work/wine.log" 2>&1 || {
      echo "FAIL: $name: the Windows render failed:" >&2
      cat "$work/wine.log" >&2
      failures=$((failures + 1))
      continue
    }
    runs=$((runs + 1))
    if ! cmp -s "$work/$name.linux.raw" "$work/win/out.raw"; then
      diffs=$(cmp -l "$work/$name.linux.raw" "$work/win/out.raw" 2>/dev/null | wc -l || true)
      echo "FAIL: $name: $diffs bytes differ between the Linux and Windows renders" >&2
      failures=$((failures + 1))
    fi
  done
done

if [ "$failures" -ne 0 ]; then
  exit 1
fi
echo "Windows under Wine and Linux render identical frames: $runs renders at 8, 16 and 32 bits"
