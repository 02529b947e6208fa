#!/usr/bin/env bash
# The main job: installs what is missing, builds the effect module,
# morvek-info and morvek-render, shows what a host learns from the module
# (About text, version, flags and the sliders) by loading it into the
# stand-in host, then renders the project's test chart with the effect and
# draws the effect's curve at the same setting.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake --preset release >/dev/null
cmake --build --preset release --target MorvekExposure morvek-info morvek-render -j "$(nproc)"
build/release/tools/morvek-info/morvek-info "$@"

out=build/release/demo/chart-exposure+2.2.png
mkdir -p "$(dirname "$out")"
curve=build/release/demo/curve-exposure+2.2.png
build/release/tools/morvek-render/morvek-render --exposure 2.2 --curve "$curve" examples/chart.png "$out"
echo "The test chart at exposure +2.2 (twice as bright) is in $out; the original is examples/chart.png."
echo "The effect's curve at that setting is in $curve."
