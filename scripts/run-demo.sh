#!/usr/bin/env bash
# The main job: installs what is missing, builds the effect module and
# morvek-info, and shows what a host learns from the module (About text,
# version, flags and the sliders) by loading it into the stand-in host.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake --preset release >/dev/null
cmake --build --preset release --target MorvekExposure morvek-info -j "$(nproc)"
exec build/release/tools/morvek-info/morvek-info "$@"
