#!/usr/bin/env bash
# Builds everything and runs every test: the optimised build, the Windows
# module and morvek-render.exe cross-built with mingw-w64 (the module's export,
# import and resource tables checked, and its renders under Wine compared with
# the optimised build's), the aarch64 Linux module, morvek-render and the
# arithmetic tests cross-built with GCC and with clang and run under qemu-user
# (renders compared the same way), then the whole suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, the threaded render tests
# and concurrent effect instances under ThreadSanitizer, and a bounded run of
# each fuzz target.
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
run_preset arm64-gcc
run_preset arm64-clang
run_preset asan

# The threaded render tests (through the module, and the driver on the host's
# worker pool) under ThreadSanitizer.
echo "=== tsan ==="
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target MorvekExposure test_Render test_Driver test_Robustness
ctest --preset tsan -j "$jobs" -L 'Render|Driver'
ctest --preset tsan -R 'ConcurrentInstances'

# The fuzz targets, each for a bounded time (MORVEK_FUZZ_SECONDS, 60 by
# default) from the committed corpus; new inputs go to a scratch folder.
echo "=== fuzz ==="
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
fuzz_seconds=${MORVEK_FUZZ_SECONDS:-60}
fuzz_scratch=$(mktemp -d)
trap 'rm -rf "$fuzz_scratch"' EXIT
for target in render color reader; do
  mkdir -p "$fuzz_scratch/$target"
  echo "--- fuzz_$target, ${fuzz_seconds} s"
  log="$fuzz_scratch/$target.log"
  rc=0
  # The image library's own leak (fuzz/lsan.supp) is only recognised with full
  # stacks, which the reader's run pays for.
  unwind=1
  [ "$target" = reader ] && unwind=0
  LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp" ASAN_OPTIONS="fast_unwind_on_malloc=$unwind" \
    "build/fuzz/fuzz/fuzz_$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 \
    -artifact_prefix="$fuzz_scratch/$target-" "$fuzz_scratch/$target" "fuzz/corpus/$target" >"$log" 2>&1 || rc=$?
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$log" || true
  if [ "$rc" -ne 0 ]; then
    tail -n 80 "$log"
    exit "$rc"
  fi
done
