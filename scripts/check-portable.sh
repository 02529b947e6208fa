#!/usr/bin/env bash
# Renders the same raw frames with the module as built for shipping, which
# takes its AVX2 loops on a processor with AVX2 and FMA, and with
# MorvekExposurePortable, the test-only build of the same module whose
# processor check always answers no, and requires byte-identical frames
# (scripts/same-renders.sh).
#
#   scripts/check-portable.sh BUILD_DIR
#
# Exits 77 (skipped) on a processor without AVX2 or FMA, where both modules
# take the portable loops.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
render=$build/tools/morvek-render/morvek-render
shipped=$build/MorvekSuites/Exposure/MorvekExposure.so
portable=$build/MorvekSuites/Exposure/MorvekExposurePortable.so
for f in "$render" "$shipped" "$portable"; do
  [ -f "$f" ] || { echo "missing $f" >&2; exit 1; }
done
if ! grep -qw avx2 /proc/cpuinfo || ! grep -qw fma /proc/cpuinfo; then
  echo "skipped: this processor has no AVX2 or no FMA, so both modules take the portable loops"
  exit 77
fi

# The processor check reads the compiler runtime's processor record,
# __cpu_model: the shipped module holds it, the portable one must not.
grep -qw __cpu_model <<<"$(nm "$shipped")" || { echo "FAIL: $shipped has no processor check" >&2; exit 1; }
if grep -qw __cpu_model <<<"$(nm "$portable")"; then
  echo "FAIL: $portable still checks the processor" >&2
  exit 1
fi

render_portable() {
  local input=$1 output=$2
  shift 2
  "$render" --plugin "$portable" "$@" "$input" "$output"
}

# shellcheck source=scripts/same-renders.sh
. "$(dirname "$0")/same-renders.sh"
same_renders "$build" "the portable loops (MorvekExposurePortable)" render_portable
