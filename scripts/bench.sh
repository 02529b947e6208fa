#!/usr/bin/env bash
# Builds morvek-bench (optimised) and runs it: the table and the ratios on the
# terminal, every repetition and aggregate as JSON in the file given as the
# first argument (default build/bench/morvek-bench.json). Further arguments go
# to morvek-bench (e.g. --benchmark_filter=/32 --benchmark_repetitions=9).
# Run it on a quiet machine: the cases are single-threaded except
# render/32/typical/threads:2, and the ratios compare medians of one run.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/bench/morvek-bench.json}
shift || true
cmake --preset release -B build/bench -DMORVEK_BUILD_BENCH=ON >/dev/null
cmake --build build/bench --target morvek-bench MorvekExposure
mkdir -p "$(dirname "$out")"
exec build/bench/bench/morvek-bench --benchmark_out="$out" --benchmark_out_format=json "$@"
