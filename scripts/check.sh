#!/usr/bin/env bash
# Builds everything and runs every test: the optimised build, the Windows
# module and morvek-render.exe cross-built with mingw-w64 (the module's export,
# import and resource tables checked, and its renders under Wine compared with
# the optimised build's), then the whole suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the threaded render tests under
# ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
run_preset() {
  local preset=$1
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
}

run_preset release
run_preset mingw
run_preset asan

# The threaded render tests (through the module, and the driver on the host's
# worker pool) under ThreadSanitizer.
echo "=== tsan ==="
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target MorvekExposure test_Render test_Driver
ctest --preset tsan -j "$jobs" -L 'Render|Driver'
