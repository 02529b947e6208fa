#!/usr/bin/env bash
# Regenerates the examples: the test chart (chart.png, 8-bit; chart.exr,
# float) and the README's before/after strip (strip.png), which morvek-render
# makes from the float chart at exposures -2.2, +2.2 and +4.4 (half, double
# and four times the brightness; gamma 1), each panel labelled with its
# exposure, and the effect's curve at exposure +2.2 on 8-bit values
# (curve.png). Usage: examples/make-examples.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
if [ ! -f "$build/build.ninja" ]; then
  cmake --preset release -B "$build" >/dev/null
fi
cmake --build "$build" --target morvek-render morvek-make-chart
tools="$build/tools/morvek-render"

"$tools/morvek-make-chart" chart examples

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
panels=(examples/chart.exr "exposure 0 (original)")
for exposure in -2.2 +2.2 +4.4; do
  "$tools/morvek-render" --exposure "$exposure" examples/chart.exr "$tmp/chart$exposure.exr" >/dev/null
  panels+=("$tmp/chart$exposure.exr" "exposure $exposure")
done
"$tools/morvek-make-chart" strip examples/strip.png "${panels[@]}"
"$tools/morvek-render" --quiet --exposure 2.2 --depth 8 --curve examples/curve.png
echo "wrote examples/chart.png, examples/chart.exr, examples/strip.png and examples/curve.png"
